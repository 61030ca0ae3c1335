#pragma once
// The rescue copy of the clips and other files a report found only on the card: the
// destination (suggested from where the confirmed clips live, or picked), the options, the
// verified copy of every missing clip's files with its sidecars and of every other file found
// on no drive, its progress and outcome, and filing its transfer log.
//
// The destination is checked when the copy starts: it must still be an existing folder on
// the volume it was chosen on, and is never created; otherwise every file fails with
// "The destination folder <path> isn't available — is the drive connected?" and nothing is
// written. The copy itself is pinned to that volume.
//
// Main thread; the copy runs on the user-initiated pool.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/ViewModels/RescueDestination.hpp"
#include "BrindlecoveApp/ViewModels/RunControl.hpp"

#include "Tessaline/Copy/CopyFileIO.hpp"
#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Scanner/MediaFile.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"
#include "Tessaline/Volumes/VolumePin.hpp"

#include <QObject>
#include <QString>

#include <filesystem>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace brindlecove {

class MissingSyncViewModel : public QObject {
    Q_OBJECT
public:
    struct Idle {
        bool operator==(const Idle&) const = default;
    };
    struct Running {
        QString fileName;  // empty until the first file starts
        qint64 copied = 0;  // bytes over the whole run
        qint64 total = 0;
        // While a check copies nothing (files already on the drive, a copy read back, the
        // closing looks at the card): what is checked and how far it is. The closing looks,
        // the copy's at the files it proved and then the rescue's at every file the scan
        // listed, share one count.
        std::optional<tessaline::CopyEngine::CheckingEvent> checking;
        bool operator==(const Running&) const = default;
    };
    struct Done {
        tessaline::TransferLog log;
        // Of the failed files, how many were no longer on the card when last looked at (after
        // the copy, and again when the card is erased); the others still have their only copy
        // there.
        int goneFromCard = 0;
        bool operator==(const Done&) const = default;
    };
    using Phase = std::variant<Idle, Running, Done>;

    // What the view model needs from outside; production defaults, tests replace them.
    struct Dependencies {
        Dialogs dialogs;
        // The remembered drive grants; none: the default store.
        std::optional<std::filesystem::path> bookmarkStoreURL;
        // Mount points for the suggestion rule; null: the system's mount table.
        RescueDestination::MountPointOf mountPointOf;
        // The copy's file calls; null: the real ones.
        std::shared_ptr<tessaline::CopyFileIO> copyIO;
    };

    explicit MissingSyncViewModel(Dependencies dependencies, QObject* parent = nullptr);
    ~MissingSyncViewModel() override;

    const std::optional<QString>& destination() const { return destination_; }
    bool destinationIsSuggested() const { return destinationIsSuggested_; }
    const Phase& phase() const { return phase_; }
    bool isRunning() const { return std::holds_alternative<Running>(phase_); }
    bool wasStopped() const { return wasStopped_; }
    // Set when the last run's log could not be filed where the Logs section says logs are
    // saved: where it went and why. Cleared when the next run starts.
    const std::optional<QString>& filingNotice() const { return filingNotice_; }
    bool preserveStructure() const { return preserveStructure_; }
    void setPreserveStructure(bool preserve);

    // Takes the report's suggested folder unless the user picked one; drops an earlier
    // suggestion when the report gives none (a picked folder stays).
    void adoptSuggestionIfNeeded(const tessaline::VerificationReport& report);
    // The folder panel; a chosen folder replaces the destination and clears a finished run.
    void pickDestination();
    // Starts the copy of the report's missing files; silently nothing without a destination,
    // during a run, or with nothing to rescue.
    void start(const tessaline::VerificationReport& report);
    // A new report replaced the one the rescue was for. An outcome is shown only with the
    // report it rescued: a finished run's outcome is put away (the phase returns to idle), and
    // a run still copying goes on but ends idle, its log filed as always. The destination and
    // the structure option stay.
    void reportReplaced();

    // The log of the last finished run (stopped runs included), also when its report was
    // replaced meanwhile; none before the first.
    std::shared_ptr<const tessaline::TransferLog> lastLog() const { return lastLog_; }
    // Looks again (off the main thread) which failed files of the shown outcome are still on
    // the card, after something may have removed them (an erase); nothing without an outcome
    // with failures.
    void recheckCard();
    // How many of the log's failed files no longer exist where the card had them. Any thread.
    static int failedGoneFromCard(const tessaline::TransferLog& log);

    // "rescue copy" while a run is in progress, for the window's close check.
    std::optional<QString> runningNoun() const;
    // Stops the current run (sets its cancellation flag); nothing when none runs. The file
    // being copied is finished first.
    void stop();

    // The files a rescue copies: per missing clip in the report's order, its primary files
    // without a proven copy (all of them unless the scan proved some members), then its
    // sidecars (size read from disk, 0 when unreadable); then the other files only on the
    // card, in path order; each file once.
    static std::vector<tessaline::MediaFile> filesToRescue(const tessaline::VerificationReport& report);
    // How many of those files belong to the missing clips (the first ones of the list); the
    // rest are other files.
    static int clipFilesToRescue(const tessaline::VerificationReport& report);

Q_SIGNALS:
    // Any of the published values changed.
    void changed();
    // lastLog() was replaced (also announced by changed()).
    void lastLogChanged();

private:
    void setDestination(const QString& folder, bool suggested);
    void applyProgress(const QString& fileName, qint64 copied, qint64 total);
    void applyChecking(const tessaline::CopyEngine::CheckingEvent& check);
    void finishRun(quint64 id, tessaline::TransferLog log, int goneFromCard);

    Dependencies dependencies_;
    std::optional<QString> destination_;
    std::optional<tessaline::VolumePin> destinationPin_;
    bool destinationIsSuggested_ = false;
    Phase phase_ = Idle{};
    bool wasStopped_ = false;
    bool runOutlivedItsReport_ = false;  // the running copy's report was replaced
    std::optional<QString> filingNotice_;
    std::shared_ptr<const tessaline::TransferLog> lastLog_;
    quint64 outcomeSerial_ = 0;  // counts outcomes shown, so a late recheck finds its own
    bool preserveStructure_ = false;
    RunControl runs_{this};
};

}  // namespace brindlecove
