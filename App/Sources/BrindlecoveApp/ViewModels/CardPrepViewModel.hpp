#pragma once
// The camera erase behind the erase-safety gate: the picked card and its count, the camera
// profile, the typed card name, the acknowledgement of an unverified card, and the erase run
// with its progress and summary. The view model holds no scan: the screen hands it the card's
// latest report of the session (reportFor()) whenever it draws (gate()) and when Erase is
// clicked (runChecked()), and the standing is computed afresh from the volume in the reader
// every time.
//
// An erase needs, at once: an external volume root (the engine's check, at pick time, at the
// click and again in the worker just before erasing); the very volume that was picked (its
// identity and its mount: the gate compares them at every draw, so a card mounted again
// since its pick is refused before any click; the click and the worker again); the typed
// card name; no run or count in
// progress; and a safe standing, or the user's acknowledgement for this report and this
// standing. An erase enabled by a safe standing walks the files it would delete once more in
// the worker (CardFileSet) and erases nothing when any is new, gone or changed since the scan,
// or when a clip or another file turns out to be proven only by copies on the card itself. An
// ejected card is never erasable, and a report an erase was started on never again vouches:
// the erase marks it in the window's record of erased reports (ErasedReports), which the
// Report section reads too; after the erase the card stands as erased since the scan until
// files are added to it.
// The erase itself runs in CardEraseWorker, the gate's rules are EraseGate's, the texts
// EraseTexts', the system's parts CardPrepBackend's.
// Main thread; counts and erases run on the user-initiated pool.

#include "BrindlecoveApp/Platform/Dialogs.hpp"
#include "BrindlecoveApp/Platform/FolderTreeWatcher.hpp"
#include "BrindlecoveApp/ViewModels/CardEraseWorker.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepBackend.hpp"
#include "BrindlecoveApp/ViewModels/EraseGate.hpp"
#include "BrindlecoveApp/ViewModels/ErasedReports.hpp"
#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"
#include "BrindlecoveApp/ViewModels/RunControl.hpp"
#include "Tessaline/CardPrep/CameraFormatProfile.hpp"
#include "Tessaline/CardPrep/CardPrepEngine.hpp"
#include "Tessaline/Report/VerificationReport.hpp"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace brindlecove {

class CardPrepViewModel : public QObject {
    Q_OBJECT
public:
    using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;
    using Summary = tessaline::CardPrepEngine::Summary;
    using CardRootIssue = tessaline::CardPrepEngine::CardRootIssue;

    // What the view model needs from outside; production defaults, tests replace them.
    struct Dependencies {
        Dialogs dialogs;
        CardPrepBackend backend = CardPrepBackend::standard();
        // The window's record of erased reports; a record of its own when none is given.
        std::shared_ptr<ErasedReports> erasedReports;
    };

    struct Preview {
        int itemCount = 0;
        int fileCount = 0;
        int64_t totalBytes = 0;
        friend bool operator==(const Preview&, const Preview&) = default;
    };

    struct Idle {
        friend bool operator==(const Idle&, const Idle&) = default;
    };
    struct Previewing {
        friend bool operator==(const Previewing&, const Previewing&) = default;
    };
    struct Running {
        QString item;  // "" before the first item
        int index = 0;
        int total = 0;
        // Regular files deleted so far, of the files the erase planned to delete (0 until the
        // erase has measured the card): what the progress counts.
        int filesDeleted = 0;
        int filesPlanned = 0;
        friend bool operator==(const Running&, const Running&) = default;
    };
    struct Done {
        Summary summary;
        friend bool operator==(const Done&, const Done&) = default;
    };
    struct Failed {
        QString message;
        friend bool operator==(const Failed&, const Failed&) = default;
    };
    using Phase = std::variant<Idle, Previewing, Running, Done, Failed>;

    // Files the card's file system renumbered since the scan (FAT, exFAT, FUSE), being read
    // again so that their bytes decide: how many of how many (total 0 until known).
    struct Checking {
        int done = 0;
        int total = 0;
        friend bool operator==(const Checking&, const Checking&) = default;
    };

    explicit CardPrepViewModel(Dependencies dependencies, QObject* parent = nullptr);
    ~CardPrepViewModel() override;

    // "card erase" while an erase runs, for the window's close check.
    std::optional<QString> runningNoun() const;
    // Stops the current erase (sets its cancellation flag): the erase is stopping from then on
    // until its outcome arrives, at the engine's next look at the flag. While the erase still
    // checks the card, before anything is deleted, the stop ends it at once: nothing deleted,
    // the card as it was. Nothing visible while counting.
    void stop();
    // Whether Stop was clicked during the erase that runs now.
    bool isStopping() const { return stopping_; }
    void cancel() { stop(); }

    // The card panel, opening where removable volumes mount; a cancelled panel changes
    // nothing, and nothing is picked while an erase runs.
    void pickCard();
    // Takes `folder` as the card, as a chosen panel folder is taken.
    void takeCard(const QString& folder);
    // Counts the picked card again (a volume was mounted at its path, the screen was shown),
    // unless an erase runs or no volume is mounted at its path (an ejected card keeps its last
    // count). The picked card is also counted again by itself whenever its contents change
    // while no erase runs (files copied onto it after an erase, say), so the gate judges what
    // the card holds now.
    void recount();

    // Whether the picked card's contents are being counted while no erase runs (after a pick,
    // a change on the card, an erase).
    bool isCounting() const;
    // The report the picked card is judged by, of the reports made in this session
    // (`sessionReports`, oldest first): the latest of the card's folder whose volume identity
    // matches the card in the reader now, else the latest of the folder (of another card that
    // was there); null without a picked card or a report of its folder.
    ReportPtr reportFor(const std::vector<ReportPtr>& sessionReports) const;

    // The standing of the picked card for `report`, read against the volume in the reader now:
    // `remounted` as soon as that volume is no longer the mount that was picked.
    // For a report of the card's folder it is `checking` while the card is counted or its files
    // read again (the verdict comes with the answer); while an erase runs it is the verdict the
    // erase was started with.
    VerificationStanding standing(const ReportPtr& report) const;
    // Whether an erase may start now with that standing (never while the card is counted or
    // its files are being checked).
    bool canRun(const VerificationStanding& standing) const;
    // standing(report), recorded as what the user is shown. When the last count found files
    // the card's file system renumbered since that report's scan and did not read them for it,
    // the card is counted again for it, reading them (checking()); until then the standing is
    // that of a card being counted. The acknowledgement is cleared
    // when the report or the standing's case differs from the last recorded. A finished
    // erase's outcome (Done) belongs to that erase: it is put away (the phase returns to Idle)
    // when the report differs from the one erased with, or when a count of the card gives a
    // standing of another case than the erase left it in (files added since, another card).
    VerificationStanding gate(const ReportPtr& report);
    // The Erase click: recomputes the gate for `report` now and starts the erase only when
    // canRun holds; returns whether it started.
    bool runChecked(const ReportPtr& report);

    const std::optional<QString>& cardPath() const { return cardPath_; }
    const Phase& phase() const { return phase_; }
    const std::optional<Preview>& preview() const { return preview_; }
    // Set while renumbered files are read again (by a count, or by the erase worker's check).
    const std::optional<Checking>& checking() const { return checking_; }
    const std::optional<CardRootIssue>& cardIssue() const { return cardIssue_; }
    const QString& selectedProfileID() const { return selectedProfileID_; }
    const QString& confirmationText() const { return confirmationText_; }
    bool acknowledgedUnverified() const { return acknowledgedUnverified_; }
    bool isBusy() const;
    ErasedReports& erasedReports() const { return *erasedReports_; }

    tessaline::CameraFormatProfile selectedProfile() const;
    QString cardName() const;
    bool confirmationMatches() const;

    void setSelectedProfileID(const QString& id);
    void setConfirmationText(const QString& text);
    // Ticking binds the acknowledgement to the report and standing last recorded by gate().
    void setAcknowledgedUnverified(bool on);

    // The refusals' texts (EraseTexts).
    static QString locationMessage() { return EraseTexts::locationMessage(); }
    static QString swappedMessage() { return EraseTexts::swappedMessage(); }
    static QString notInsertedMessage() { return EraseTexts::notInsertedMessage(); }
    static QString changedMessage(const FileChanges& changes = {}) { return EraseTexts::changedMessage(changes); }
    static QString selfProvenMessage(const std::vector<std::string>& files = {}) {
        return EraseTexts::selfProvenMessage(files);
    }

Q_SIGNALS:
    // Any published value changed.
    void changed();

private:
    using Refusal = CardEraseWorker::Refusal;

    void setPhase(Phase phase);
    // Watches the picked card's folder tree anew and then counts it (startCount).
    void loadPreview();
    void startCount();
    // Starts the erase on `verdict` (a safe one: the safe path, checking the card's files).
    void start(const ReportPtr& report, const VerificationStanding& verdict);
    // Whether the card is being counted or its files checked (no verdict on them yet).
    bool isJudging() const;
    void applyEvent(const QString& name, int index, int total);
    void applyFilesDeleted(int deleted, int planned);
    void applySummary(const Summary& summary);
    void applyRefusal(Refusal refusal, std::optional<CardRootIssue> issue, const std::vector<std::string>& files = {},
                      const FileChanges& changes = {});
    void applyEngineError(const QString& message);
    void applyChecking(int done, int total);
    // Whether the volume at the card folder is still the mount that was picked, as the Erase
    // click will judge it (its facts and its identity).
    bool isPickedMount() const;
    // Whether the last count found files renumbered since `report`'s scan without reading
    // them for it.
    bool byteCheckPending(const ReportPtr& report) const;
    struct SelfProvenCache;
    const SelfProvenCache& selfProvenFor(const ReportPtr& report) const;
    std::filesystem::path cardFsPath() const;
    // standing() with the card's files given.
    VerificationStanding standingWith(const ReportPtr& report, const CardFiles* files,
                                      const std::optional<tessaline::CardFileMount>& filesMount,
                                      bool filesUnreadable) const;

    Dependencies dependencies_;
    RunControl runs_{this};
    FolderTreeWatcher cardWatcher_;
    bool countWhenWatched_ = false;  // a count waits for the card's folders to be watched
    std::optional<QString> cardPath_;
    Phase phase_ = Idle{};
    std::optional<Preview> preview_;
    std::optional<CardFiles> previewFiles_;
    std::optional<tessaline::CardFileMount> previewFilesMount_;  // the mount previewFiles_ were walked through
    bool stopping_ = false;  // Stop was clicked during the erase that runs
    bool previewUnreadable_ = false;  // the last count could not read every folder of the card
    std::optional<Checking> checking_;
    // The report whose renumbered files the last count read again (none: no report).
    ReportPtr judgedAgainst_;
    // The reports an erase was started on: they never again vouch for their card.
    std::shared_ptr<ErasedReports> erasedReports_;
    // The report the current erase marked (none when it was marked before): a refusal, which
    // deletes nothing, takes the mark back.
    ReportPtr markedByThisRun_;
    std::optional<CardRootIssue> cardIssue_;
    QString selectedProfileID_;
    QString confirmationText_;
    bool acknowledgedUnverified_ = false;
    std::optional<tessaline::VolumeIdentity> pickedIdentity_;
    std::optional<tessaline::CardPrepEngine::CardFacts> pickedFacts_;

    // What gate() last recorded, and what the acknowledgement was given for.
    struct Shown {
        const tessaline::VerificationReport* report = nullptr;
        ReportPtr keep;  // holds the report so its address is not reused
        VerificationStanding::Kind kind = VerificationStanding::Kind::notVerified;
        bool operator==(const Shown& o) const { return report == o.report && kind == o.kind; }
    };
    std::optional<Shown> shown_;
    bool shownJudging_ = false;  // gate() last showed the card being judged
    // The verdict the running erase was started with: the gate's answer until it ends.
    std::optional<VerificationStanding> runStanding_;
    std::optional<Shown> acknowledgedFor_;
    // The report the current or last erase ran with, and the standing's cases it may have
    // left the card in.
    ReportPtr erasedWith_;
    std::vector<VerificationStanding::Kind> outcomeKinds_;
    // The stage of the erase that runs (CardEraseWorker::Stage), shared with its worker.
    std::shared_ptr<std::atomic<int>> eraseStage_;
    // Whether the Done outcome no longer belongs to what gate() is shown now.
    bool outcomeOutlived(const ReportPtr& report, const VerificationStanding& now);

    // Self-proven clips and the other files only on the card of a report, by report and card
    // device (stat of every proving location once per report, not at every draw).
    struct SelfProvenCache {
        const tessaline::VerificationReport* report = nullptr;
        ReportPtr keep;
        std::optional<dev_t> cardDevice;
        std::string cardRoot;
        int count = 0;
        std::vector<std::string> otherFilesOnlyOnCard;
    };
    mutable std::optional<SelfProvenCache> selfProvenCache_;
};

}  // namespace brindlecove
