#pragma once
// The verified copy of a camera card (any folder) into a destination folder, followed on
// screen by the Copy section and kept, as the transfer log of the last finished run, for the
// Production Log section. One per main window.
//
// A run: start() snapshots the folders and the "Preserve folder structure" choice, begins a
// run (fresh cancellation flag) and hands the engine call to the user-initiated pool. The
// worker forwards each settle and progress event as one queued main-thread call, then posts
// its result last, so the main thread applies them first in, first out. A finished run (one
// that produced a log, stopped runs included) becomes `lastLog` and is filed into the log
// archive on the utility pool, after which "Brindlecove.logArchived" is posted exactly once.
// A run the engine refused (the card can't be read, the destination lies inside the card)
// ends `failed` with the engine's sentence and keeps the previous log.
//
// Main thread, except the worker, which touches no member.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/ViewModels/CopySpeedSampler.hpp"
#include "BrindlecoveApp/ViewModels/RunControl.hpp"

#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

namespace brindlecove {

class Executor;

class CopyViewModel : public QObject {
    Q_OBJECT
public:
    // The engine call of one run (CopyEngine::copy of a card folder by default). Runs on the
    // worker; throws what the engine throws.
    using CopyRunner = std::function<tessaline::CopyEngine::CopyRun(
        const std::filesystem::path& card, const std::filesystem::path& destination,
        const tessaline::CopyEngine::Options& options, const tessaline::SettleOptions& settle,
        const tessaline::CopyEngine::CancelTest& isCancelled, const tessaline::CopyEngine::EventHandler& onEvent)>;

    using Archiver = std::function<std::optional<QString>(const tessaline::TransferLog&)>;

    // What the view model needs from outside; production defaults, tests replace them.
    struct Dependencies {
        Dialogs dialogs;
        CopyRunner copy;  // empty: the copy engine
        // Files a finished log (blocking, on a utility thread; must not throw) and returns the
        // notice to show when it was not filed where logs are said to be saved (see
        // LogArchiveProvider::Filing). Empty: the application's log archive under the active job.
        Archiver archive;
        CopySpeedSampler::Clock clock;  // empty: the steady clock
        // The engine's wait for the card to stop changing.
        tessaline::SettleOptions settle{2.0, 60.0, 0.5};
    };

    // Where the current or last run stands.
    struct SettlingPhase {
        double quietRemaining = 0;  // seconds of quiet still needed
        bool operator==(const SettlingPhase&) const = default;
    };
    struct CopyingPhase {
        QString fileName;  // last path component of the file being copied
        int fileIndex = 0;  // from 0
        int fileTotal = 0;
        int64_t overallBytesCopied = 0;
        int64_t overallBytes = 0;
        // While the copy of this file is read back from the drive to prove it: how far (a
        // readBack check, its bytes read of bytes to read).
        std::optional<tessaline::CopyEngine::CheckingEvent> readBack;
        bool operator==(const CopyingPhase&) const = default;
    };
    // A check that copies nothing (files already on the drive, the card's closing look), and
    // how far it is.
    struct CheckingPhase {
        tessaline::CopyEngine::CheckingEvent check;
        bool operator==(const CheckingPhase&) const = default;
    };
    struct DonePhase {
        std::shared_ptr<const tessaline::TransferLog> log;  // never null
        bool operator==(const DonePhase& other) const;       // compares the logs field by field
    };
    struct FailedPhase {
        QString message;
        bool operator==(const FailedPhase&) const = default;
    };
    struct IdlePhase {
        bool operator==(const IdlePhase&) const = default;
    };
    using Phase = std::variant<SettlingPhase, CopyingPhase, CheckingPhase, DonePhase, FailedPhase, IdlePhase>;
    using ProgressPoint = CopySpeedSampler::ProgressPoint;

    static constexpr int64_t chunkSize = 8 * 1024 * 1024;

    explicit CopyViewModel(Dependencies dependencies, QObject* parent = nullptr);
    ~CopyViewModel() override;

    const std::optional<QString>& cardPath() const { return cardPath_; }
    const std::optional<QString>& destinationPath() const { return destinationPath_; }
    const Phase& phase() const { return phase_; }
    // Whether the phase is settling, copying or checking.
    bool isRunning() const;
    // Both folders chosen and no run in progress.
    bool canStart() const;
    bool preserveStructure() const { return preserveStructure_; }
    // Read by the next start(); a running copy keeps the value it started with.
    void setPreserveStructure(bool preserve);
    // Whether the last finished run stopped early: its log is marked cancelled (a run that
    // ended without a log: whether it had been told to stop).
    bool wasStopped() const { return wasStopped_; }
    // Set when the last run's log could not be filed where the Logs section says logs are
    // saved: where it went and why. Cleared when the next run starts.
    const std::optional<QString>& filingNotice() const { return filingNotice_; }
    // The log of the last run that finished with a log; null before the first one. The
    // pointee never changes: capture the pointer to keep a log while runs go on.
    std::shared_ptr<const tessaline::TransferLog> lastLog() const { return lastLog_; }
    // Publishes `log` as the last log (a finished run does this; tests and screenshots too).
    void setLastLog(std::shared_ptr<const tessaline::TransferLog> log);
    const QList<ProgressPoint>& progressHistory() const { return sampler_.history(); }
    std::optional<double> estimatedSecondsRemaining() const { return sampler_.estimatedSecondsRemaining(); }
    double currentBytesPerSec() const { return sampler_.currentBytesPerSec(); }

    // The folder panels (opening where removable volumes mount). A chosen folder sets the
    // phase to idle; a cancelled panel changes nothing. Nothing at all while a run is in
    // progress, so a run's folders never change under it.
    void pickCard();
    void pickDestination();
    // Begins a run when both folders are chosen and none is in progress; else nothing.
    void start();
    // Sets the current run's cancellation flag; the engine stops within a moment (between files
    // or between the chunks of the file at hand, whose copy it removes) and the run
    // ends `done` with a stopped log. Nothing when no run is in progress.
    void stop();
    // "copy" while a run is in progress, for the window's close check.
    std::optional<QString> runningNoun() const;

Q_SIGNALS:
    // Any published value changed (folders, phase, switch, speed, history, estimate, stop).
    void changed();
    // lastLog() was replaced (also announced by changed()).
    void lastLogChanged();

private:
    static void work(RunControl::Ticket ticket, CopyRunner copy, Archiver archive,
                     Executor* executor, std::filesystem::path card, std::filesystem::path destination,
                     tessaline::CopyEngine::Options options, tessaline::SettleOptions settle, CopyViewModel* self);
    void applySettling(double quietRemaining);
    void applyProgress(CopyingPhase progress);
    void applyChecking(CheckingPhase checking);
    // A copy's read-back, or its end (a phase without one); the speed sampler is not fed.
    void applyReadBack(CopyingPhase readingBack);
    void applyResult(quint64 runId, std::shared_ptr<const tessaline::TransferLog> log, std::optional<QString> failure);
    std::optional<QString> chooseFolder(const QString& prompt, const QString& message) const;
    std::optional<tessaline::VolumePin> volumeForRun();

    Dependencies dependencies_;
    std::optional<QString> cardPath_;
    std::optional<QString> destinationPath_;
    // The destination's volume as it was when chosen: a drive pulled or swapped before or
    // during the run is told apart from it by the engine.
    std::optional<tessaline::VolumePin> destinationVolume_;
    Phase phase_ = IdlePhase{};
    bool preserveStructure_ = true;
    bool wasStopped_ = false;
    std::optional<QString> filingNotice_;
    std::shared_ptr<const tessaline::TransferLog> lastLog_;
    CopySpeedSampler sampler_;
    RunControl runs_{this};
};

}  // namespace brindlecove
