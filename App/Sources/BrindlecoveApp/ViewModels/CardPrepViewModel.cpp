#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"

#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/Platform/RemovableMounts.hpp"
#include "BrindlecoveApp/ViewModels/CardEraseWorker.hpp"
#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"
#include "Tessaline/Support/PathText.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace brindlecove {

namespace fs = std::filesystem;

namespace {

// Between two counts through one mount: a file whose number, size and times are the same is
// the file the earlier count read.
constexpr auto sameNumbers = tessaline::CardFileComparison::Numbering::identity;

}  // namespace

CardPrepViewModel::CardPrepViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent),
      dependencies_(std::move(dependencies)),
      erasedReports_(dependencies_.erasedReports ? dependencies_.erasedReports : std::make_shared<ErasedReports>()),
      selectedProfileID_(QString::fromStdString(tessaline::CameraFormatProfile::all().front().id)) {
    // An erase's own deleting is not watched (the watching stops while it runs).
    connect(&cardWatcher_, &FolderTreeWatcher::changed, this, &CardPrepViewModel::recount);
    connect(&cardWatcher_, &FolderTreeWatcher::armed, this, [this] {
        if (!countWhenWatched_) return;
        countWhenWatched_ = false;
        startCount();
    });
}

CardPrepViewModel::~CardPrepViewModel() = default;

std::optional<QString> CardPrepViewModel::runningNoun() const {
    if (std::holds_alternative<Running>(phase_)) return QStringLiteral("card erase");
    return std::nullopt;
}

void CardPrepViewModel::stop() {
    runs_.cancel();
    if (!std::holds_alternative<Running>(phase_) || stopping_) return;
    stopping_ = true;
    int stage = CardEraseWorker::checkingCard;
    if (eraseStage_ && eraseStage_->compare_exchange_strong(stage, CardEraseWorker::stoppedBeforeErasing)) {
        // Nothing can have been deleted: the checks' results are no longer wanted.
        runs_.abandon();
        Summary stopped;
        stopped.cancelled = true;
        stopped.untouched = true;
        applySummary(stopped);
        return;
    }
    Q_EMIT changed();
}

bool CardPrepViewModel::isCounting() const {
    return !std::holds_alternative<Running>(phase_) && (countWhenWatched_ || runs_.isActive());
}

CardPrepViewModel::ReportPtr CardPrepViewModel::reportFor(const std::vector<ReportPtr>& sessionReports) const {
    if (!cardPath_) return nullptr;
    const fs::path card = EraseGate::standardised(cardFsPath());
    ReportPtr latestOfFolder;
    std::optional<std::optional<tessaline::VolumeIdentity>> identityNow;  // read once, when needed
    for (auto it = sessionReports.rbegin(); it != sessionReports.rend(); ++it) {
        const ReportPtr& report = *it;
        if (!report || EraseGate::standardised(report->cardPath) != card) continue;
        if (!latestOfFolder) latestOfFolder = report;
        if (!report->cardVolumeIdentity) continue;
        if (!identityNow) identityNow = dependencies_.backend.readIdentity(cardFsPath());
        if (*identityNow && report->cardVolumeIdentity->matches(**identityNow)) return report;
    }
    return latestOfFolder;
}

bool CardPrepViewModel::isBusy() const {
    return std::holds_alternative<Running>(phase_) || std::holds_alternative<Previewing>(phase_);
}

tessaline::CameraFormatProfile CardPrepViewModel::selectedProfile() const {
    if (auto profile = tessaline::CameraFormatProfile::profile(selectedProfileID_.toStdString())) return *profile;
    return tessaline::CameraFormatProfile::all().front();
}

QString CardPrepViewModel::cardName() const {
    if (!cardPath_) return {};
    return QFileInfo(QDir::cleanPath(*cardPath_)).fileName();
}

bool CardPrepViewModel::confirmationMatches() const {
    const QString name = cardName();
    if (name.isEmpty()) return false;
    return QString::compare(confirmationText_.normalized(QString::NormalizationForm_D),
                            name.normalized(QString::NormalizationForm_D), Qt::CaseInsensitive) == 0;
}

fs::path CardPrepViewModel::cardFsPath() const {
    return fs::path(QFile::encodeName(cardPath_.value_or(QString())).toStdString());
}

void CardPrepViewModel::setPhase(Phase phase) {
    phase_ = std::move(phase);
    if (!std::holds_alternative<Running>(phase_)) stopping_ = false;
}

void CardPrepViewModel::setSelectedProfileID(const QString& id) {
    if (id == selectedProfileID_) return;
    selectedProfileID_ = id;
    Q_EMIT changed();
}

void CardPrepViewModel::setConfirmationText(const QString& text) {
    if (text == confirmationText_) return;
    confirmationText_ = text;
    Q_EMIT changed();
}

void CardPrepViewModel::setAcknowledgedUnverified(bool on) {
    acknowledgedFor_ = on ? shown_ : std::nullopt;
    if (on == acknowledgedUnverified_) return;
    acknowledgedUnverified_ = on;
    Q_EMIT changed();
}

void CardPrepViewModel::pickCard() {
    if (std::holds_alternative<Running>(phase_) || !dependencies_.dialogs.chooseFolder) return;
    FolderRequest request;
    request.prompt = QStringLiteral("Select Card");
    request.message = QStringLiteral("Pick the card to ERASE and prep. Everything on it will be deleted.");
    request.canCreateFolders = false;
    request.startFolder = RemovableMounts::parentFolder();
    const auto chosen = dependencies_.dialogs.chooseFolder(request);
    if (!chosen || chosen->isEmpty()) return;
    takeCard(*chosen);
}

void CardPrepViewModel::takeCard(const QString& folder) {
    if (std::holds_alternative<Running>(phase_)) return;
    cardWatcher_.stop();
    countWhenWatched_ = false;
    runs_.abandon();  // a count of an earlier card is no longer wanted
    cardPath_ = folder;
    const fs::path card = cardFsPath();
    pickedIdentity_ = dependencies_.backend.readIdentity(card);
    confirmationText_.clear();
    acknowledgedUnverified_ = false;
    acknowledgedFor_.reset();
    preview_.reset();
    previewFiles_.reset();
    previewFilesMount_.reset();
    previewUnreadable_ = false;
    const auto checked = dependencies_.backend.validate(card);
    cardIssue_ = checked.issue;
    pickedFacts_ = checked.card;
    if (!cardIssue_ && !pickedFacts_) cardIssue_ = CardRootIssue::notAVolumeRoot;
    if (cardIssue_ || !pickedFacts_) {
        setPhase(Idle{});
    } else {
        setPhase(Previewing{});
        loadPreview();
    }
    Q_EMIT changed();
}

void CardPrepViewModel::recount() {
    if (!cardPath_ || cardIssue_ || std::holds_alternative<Running>(phase_)) return;
    // An ejected card keeps its last count: the folder it leaves behind is not the card.
    const auto& isMounted = dependencies_.backend.isMounted;
    if (isMounted && !isMounted(cardFsPath())) return;
    loadPreview();
    Q_EMIT changed();  // the gate judges the card afresh: no verdict until the count is in
}

void CardPrepViewModel::loadPreview() {
    // The card's folders are watched first and counted then, so that no change falls between
    // the count and the watching.
    countWhenWatched_ = true;
    cardWatcher_.watch(*cardPath_);
}

void CardPrepViewModel::startCount() {
    auto ticket = runs_.begin();
    const fs::path card = cardFsPath();
    auto compute = dependencies_.backend.computePreview;
    // Files renumbered since the scan the screen shows are read for it as part of the count.
    ReportPtr report = shown_ ? shown_->keep : nullptr;
    CardFiles counted = previewFiles_.value_or(CardFiles{});
    Executor::shared().userInitiated([this, ticket, card, compute, report, counted = std::move(counted),
                                      countedMount = previewFilesMount_] {
        CardContents contents = compute(card);
        // A file read by the last count and not renumbered since is not read again.
        if (contents.files && countedMount && contents.filesMount && *countedMount == *contents.filesMount)
            tessaline::CardFileComparison::takeDigests(*contents.files, counted, sameNumbers);
        if (report && contents.files)
            CardPrepBackend::checkRenumbered(card, *contents.files, contents.filesMount, *report, ticket.cancelTest(),
                                             [this, &ticket](int done, int total) {
                                                 ticket.post([this, done, total] { applyChecking(done, total); });
                                             });
        ticket.post([this, id = ticket.id, contents = std::move(contents), report] {
            runs_.finish(id);
            checking_.reset();
            judgedAgainst_ = report;
            preview_ = Preview{contents.itemCount, contents.fileCount, contents.totalBytes};
            previewFiles_ = contents.files;
            previewFilesMount_ = contents.filesMount;
            previewUnreadable_ = !contents.files;
            if (std::holds_alternative<Previewing>(phase_)) setPhase(Idle{});
            Q_EMIT changed();
        });
    });
}

const CardPrepViewModel::SelfProvenCache& CardPrepViewModel::selfProvenFor(const ReportPtr& report) const {
    const fs::path card = cardFsPath();
    const auto& deviceOf = dependencies_.backend.deviceOf;
    const std::optional<dev_t> cardDevice = deviceOf ? deviceOf(card) : std::nullopt;
    const std::string root = EraseGate::standardised(card).string();
    if (selfProvenCache_ && selfProvenCache_->report == report.get() && selfProvenCache_->cardDevice == cardDevice &&
        selfProvenCache_->cardRoot == root)
        return *selfProvenCache_;
    const EraseGate::OnCardTest onCard = CardEraseWorker::onCardDevice(dependencies_.backend, cardDevice);
    selfProvenCache_ = SelfProvenCache{report.get(), report, cardDevice, root,
                                       EraseGate::selfProvenClips(*report, card, onCard),
                                       EraseGate::otherFilesOnlyOnCard(*report, card, onCard)};
    return *selfProvenCache_;
}

VerificationStanding CardPrepViewModel::standing(const ReportPtr& report) const {
    // The erase runs on the verdict it was started with; what it leaves is judged once it ends.
    if (runStanding_ && std::holds_alternative<Running>(phase_)) return *runStanding_;
    const bool pending = byteCheckPending(report);
    const bool filesKnown = previewFiles_ && !pending;
    VerificationStanding now =
        standingWith(report, filesKnown ? &*previewFiles_ : nullptr, previewFilesMount_, previewUnreadable_);
    // A verdict on the card's files waits for their count and check: no verdict meanwhile.
    using Kind = VerificationStanding::Kind;
    const bool ofThisCard =
        report && cardPath_ && EraseGate::standardised(report->cardPath) == EraseGate::standardised(cardFsPath());
    if (ofThisCard && (pending || isJudging()) && now.kind != Kind::notInserted && now.kind != Kind::differentCard &&
        now.kind != Kind::remounted) {
        VerificationStanding checking{Kind::checking, checking_ ? checking_->done : 0};
        checking.files = checking_ ? checking_->total : 0;
        return checking;
    }
    return now;
}

bool CardPrepViewModel::isJudging() const {
    return std::holds_alternative<Previewing>(phase_) || isCounting() || checking_.has_value();
}

VerificationStanding CardPrepViewModel::standingWith(const ReportPtr& report, const CardFiles* files,
                                                     const std::optional<tessaline::CardFileMount>& filesMount,
                                                     bool filesUnreadable) const {
    EraseGate::Inputs in;
    in.report = report.get();
    if (cardPath_) {
        in.card = cardFsPath();
        const auto& isMounted = dependencies_.backend.isMounted;
        in.cardMounted = !isMounted || isMounted(*in.card);
        in.pickedMount = !in.cardMounted || isPickedMount();
    }
    if (report && cardPath_ && EraseGate::standardised(report->cardPath) == EraseGate::standardised(*in.card)) {
        in.identityNow = dependencies_.backend.readIdentity(*in.card);
        in.files = files;
        in.filesMount = filesMount;
        in.filesUnreadable = filesUnreadable;
        in.erasedSinceScan = erasedReports_->contains(report);
        in.selfProven = [this, &report] { return selfProvenFor(report).count; };
        in.otherFilesOnlyOnCard = [this, &report] { return selfProvenFor(report).otherFilesOnlyOnCard; };
    }
    return EraseGate::standing(in);
}

bool CardPrepViewModel::isPickedMount() const {
    // Nothing erasable was picked: the card's issue is what the screen says.
    if (cardIssue_ || !pickedFacts_) return true;
    // The same facts the Erase click and the worker compare, read afresh: a remount gives the
    // card a new mount ID, another card another device and UUID.
    const fs::path card = cardFsPath();
    const auto checked = dependencies_.backend.validate(card);
    if (checked.issue || !checked.card || *checked.card != *pickedFacts_) return false;
    if (!pickedIdentity_) return true;  // nothing to compare: the click refuses it on its own
    const auto identityNow = dependencies_.backend.readIdentity(card);
    return identityNow && pickedIdentity_->matches(*identityNow);
}

bool CardPrepViewModel::byteCheckPending(const ReportPtr& report) const {
    if (!report || !previewFiles_ || report == judgedAgainst_) return false;
    return !EraseGate::renumberedSinceScan(*report, *previewFiles_, previewFilesMount_).empty();
}

void CardPrepViewModel::applyChecking(int done, int total) {
    checking_ = Checking{done, total};
    Q_EMIT changed();
}

bool CardPrepViewModel::canRun(const VerificationStanding& standing) const {
    if (!cardPath_ || cardIssue_ || !confirmationMatches() || isBusy() || isJudging()) return false;
    // An ejected card cannot be erased, acknowledged or not, nor one mounted again since it was
    // picked (it is to be picked again); a card being judged waits for its verdict.
    if (standing.kind == VerificationStanding::Kind::notInserted ||
        standing.kind == VerificationStanding::Kind::remounted || standing.kind == VerificationStanding::Kind::checking)
        return false;
    return standing.isSafe() || acknowledgedUnverified_;
}

VerificationStanding CardPrepViewModel::gate(const ReportPtr& report) {
    const VerificationStanding now = standing(report);
    // While the card is judged the verdict's case stays the one shown before (an
    // acknowledgement outlives a recount that ends in the same case).
    const bool judging = now.kind == VerificationStanding::Kind::checking;
    const Shown current{report.get(), report,
                        judging && shown_ && shown_->report == report.get() ? shown_->kind : now.kind};
    bool differs = !shown_ || !(*shown_ == current) || judging != shownJudging_;
    shown_ = current;
    shownJudging_ = judging;
    if (!checking_ && !countWhenWatched_ && !runs_.isActive() && byteCheckPending(report)) {
        checking_ = Checking{};
        loadPreview();
        differs = true;
    }
    if (outcomeOutlived(report, now)) {
        setPhase(Idle{});
        differs = true;
    }
    if (acknowledgedUnverified_ && !(acknowledgedFor_ && *acknowledgedFor_ == current)) {
        acknowledgedUnverified_ = false;
        acknowledgedFor_.reset();
        differs = true;
    }
    // A standing that changed without any signal (a card swapped in the reader) redraws.
    if (differs) Q_EMIT changed();
    return now;
}

bool CardPrepViewModel::outcomeOutlived(const ReportPtr& report, const VerificationStanding& now) {
    if (!std::holds_alternative<Done>(phase_)) return false;
    if (report != erasedWith_) return true;
    // Judged once the count after the erase is in, against the standings the erase itself left
    // (settled when it ended), however late that count comes.
    if (countWhenWatched_ || runs_.isActive()) return false;
    return std::find(outcomeKinds_.begin(), outcomeKinds_.end(), now.kind) == outcomeKinds_.end();
}

bool CardPrepViewModel::runChecked(const ReportPtr& report) {
    const VerificationStanding now = gate(report);
    if (!canRun(now)) return false;
    start(report, now);
    return std::holds_alternative<Running>(phase_);
}

void CardPrepViewModel::start(const ReportPtr& report, const VerificationStanding& verdict) {
    const bool safePath = verdict.isSafe();
    const fs::path card = cardFsPath();
    if (const auto& isMounted = dependencies_.backend.isMounted; isMounted && !isMounted(card)) {
        setPhase(Failed{notInsertedMessage()});
        Q_EMIT changed();
        return;
    }
    const auto checked = dependencies_.backend.validate(card);
    if (checked.issue || !checked.card) {
        applyRefusal(Refusal::location, checked.issue.value_or(CardRootIssue::notAVolumeRoot));
        return;
    }
    const auto identityNow = dependencies_.backend.readIdentity(card);
    if (!pickedFacts_ || *checked.card != *pickedFacts_ || !pickedIdentity_ || !identityNow ||
        !pickedIdentity_->matches(*identityNow)) {
        applyRefusal(Refusal::swapped, std::nullopt);
        return;
    }

    CardEraseWorker::Request request{card,
                                     *pickedFacts_,
                                     *pickedIdentity_,
                                     selectedProfile(),
                                     safePath ? report : nullptr,
                                     safePath,
                                     previewFiles_.value_or(CardFiles{}),
                                     previewFilesMount_};
    // From now on the report no longer describes its card, also when the card is picked again
    // later, unless the erase is refused before anything is deleted. A report of another card
    // that was at this folder (another volume identity) still describes that card.
    markedByThisRun_.reset();
    if (report && EraseGate::standardised(report->cardPath) == EraseGate::standardised(card) &&
        !(report->cardVolumeIdentity && !report->cardVolumeIdentity->matches(*identityNow)) &&
        erasedReports_->add(report))
        markedByThisRun_ = report;
    cardWatcher_.stop();
    countWhenWatched_ = false;
    erasedWith_ = report;
    outcomeKinds_.clear();
    auto ticket = runs_.begin();
    auto stage = std::make_shared<std::atomic<int>>(CardEraseWorker::checkingCard);
    eraseStage_ = stage;
    stopping_ = false;
    runStanding_ = verdict;
    setPhase(Running{QString(), 0, preview_ ? preview_->itemCount : 0});
    Q_EMIT changed();

    using Worker = CardEraseWorker;
    Executor::shared().userInitiated([this, ticket, stage, request = std::move(request),
                                      backend = dependencies_.backend] {
        Worker::Callbacks to;
        to.checking = [this, &ticket](int done, int total) {
            ticket.post([this, done, total] { applyChecking(done, total); });
        };
        to.deleting = [this, &ticket](const QString& item, int index, int total) {
            ticket.post([this, item, index, total] { applyEvent(item, index, total); });
        };
        to.filesDeleted = [this, &ticket](int deleted, int planned) {
            ticket.post([this, deleted, planned] { applyFilesDeleted(deleted, planned); });
        };
        to.refused = [this, &ticket](Refusal refusal, std::optional<CardRootIssue> issue,
                                     std::vector<std::string> files, FileChanges changes) {
            ticket.post([this, id = ticket.id, refusal, issue, files = std::move(files), changes = std::move(changes)] {
                runs_.finish(id);
                applyRefusal(refusal, issue, files, changes);
            });
        };
        to.finished = [this, &ticket](Summary summary) {
            ticket.post([this, id = ticket.id, summary = std::move(summary)] {
                runs_.finish(id);
                applySummary(summary);
            });
        };
        to.failed = [this, &ticket](QString message) {
            ticket.post([this, id = ticket.id, message = std::move(message)] {
                runs_.finish(id);
                applyEngineError(message);
            });
        };
        Worker::run(request, backend, ticket.cancelTest(), *stage, to);
    });
}

void CardPrepViewModel::applyEvent(const QString& name, int index, int total) {
    const auto* running = std::get_if<Running>(&phase_);
    if (!running) return;
    checking_.reset();  // the check before the erase is over
    setPhase(Running{name, index, total, running->filesDeleted, running->filesPlanned});
    Q_EMIT changed();
}

void CardPrepViewModel::applyFilesDeleted(int deleted, int planned) {
    const auto* running = std::get_if<Running>(&phase_);
    if (!running) return;
    checking_.reset();  // the erase has measured the card: the check before it is over
    Running now = *running;
    now.filesDeleted = deleted;
    now.filesPlanned = planned;
    setPhase(std::move(now));
    Q_EMIT changed();
}

void CardPrepViewModel::applySummary(const Summary& summary) {
    eraseStage_.reset();
    // Stopped before anything was removed: the report still describes the card.
    if (summary.untouched && markedByThisRun_) erasedReports_->remove(markedByThisRun_);
    markedByThisRun_.reset();
    checking_.reset();
    setPhase(Done{summary});
    confirmationText_.clear();
    acknowledgedUnverified_ = false;
    acknowledgedFor_.reset();
    // The standings the erase left the card in, which its outcome is judged against: a clean
    // erase left no file, an untouched card is as it was counted; what a stopped or partial
    // erase left is some of what was there (the changed files among them, or none of them),
    // with the files it kept changed since the scan.
    outcomeKinds_.clear();
    auto left = [this](const VerificationStanding& standing) {
        if (std::find(outcomeKinds_.begin(), outcomeKinds_.end(), standing.kind) == outcomeKinds_.end())
            outcomeKinds_.push_back(standing.kind);
    };
    const CardFiles none;
    if (summary.untouched) {
        left(standing(erasedWith_));
    } else if (summary.isClean()) {
        left(standingWith(erasedWith_, &none, std::nullopt, false));
    } else {
        left(standing(erasedWith_));
        left(standingWith(erasedWith_, &none, std::nullopt, false));
        if (!summary.kept.empty()) left(VerificationStanding{VerificationStanding::Kind::changedSinceScan, 0});
    }
    // A clean erase left no file to delete; an untouched card keeps its count; what any other
    // erase left is not known until counted (the screen says it is counting meanwhile). Either
    // way the card is counted and watched again, so the gate judges what is there, also once
    // files are copied onto the card.
    if (summary.isClean()) {
        preview_ = Preview{0, 0, 0};
        previewFiles_ = CardFiles{};
        previewFilesMount_.reset();
        previewUnreadable_ = false;
    } else if (!summary.untouched) {
        preview_.reset();
        previewFiles_.reset();
        previewFilesMount_.reset();
        previewUnreadable_ = false;
    }
    loadPreview();
    Q_EMIT changed();
}

void CardPrepViewModel::applyRefusal(Refusal refusal, std::optional<CardRootIssue> issue,
                                     const std::vector<std::string>& files, const FileChanges& changes) {
    eraseStage_.reset();
    checking_.reset();
    // Nothing was deleted: the report describes the card as well as before the click.
    if (markedByThisRun_) erasedReports_->remove(markedByThisRun_);
    markedByThisRun_.reset();
    switch (refusal) {
        case Refusal::location:
            cardIssue_ = issue.value_or(CardRootIssue::notAVolumeRoot);
            setPhase(Failed{locationMessage()});
            break;
        case Refusal::swapped:
        case Refusal::changed:
        case Refusal::selfProven:
            setPhase(Failed{refusal == Refusal::swapped   ? swappedMessage()
                            : refusal == Refusal::changed ? changedMessage(changes)
                                                          : selfProvenMessage(files)});
            confirmationText_.clear();
            acknowledgedUnverified_ = false;
            acknowledgedFor_.reset();
            if (refusal != Refusal::swapped) loadPreview();  // show what the card holds now
            break;
    }
    Q_EMIT changed();
}

void CardPrepViewModel::applyEngineError(const QString& message) {
    eraseStage_.reset();
    markedByThisRun_.reset();  // the engine may have deleted part of the card
    checking_.reset();
    setPhase(Failed{message});
    confirmationText_.clear();
    acknowledgedUnverified_ = false;
    acknowledgedFor_.reset();
    loadPreview();
    Q_EMIT changed();
}

}  // namespace brindlecove
