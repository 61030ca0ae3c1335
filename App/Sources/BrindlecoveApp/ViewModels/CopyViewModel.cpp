#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"

#include "BrindlecoveApp/MemoryRelease.hpp"

#include "BrindlecoveApp/AppEvents.hpp"
#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/Platform/RemovableMounts.hpp"

#include "Tessaline/Support/DateText.hpp"

#include <QFile>

#include <exception>

namespace brindlecove {

namespace fs = std::filesystem;
using tessaline::CopyEngine;
using tessaline::TransferLog;

namespace {

QString fromName(const std::string& name) { return QFile::decodeName(QByteArray::fromStdString(name)); }

}  // namespace

bool CopyViewModel::DonePhase::operator==(const DonePhase& other) const {
    if (log == other.log) return true;
    return log && other.log && *log == *other.log;
}

CopyViewModel::CopyViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)), sampler_(dependencies_.clock) {
    if (!dependencies_.copy) {
        dependencies_.copy = [](const fs::path& card, const fs::path& destination, const CopyEngine::Options& options,
                                const tessaline::SettleOptions& settle, const CopyEngine::CancelTest& isCancelled,
                                const CopyEngine::EventHandler& onEvent) {
            return CopyEngine().copy(card, destination, options, settle, isCancelled, onEvent);
        };
    }
    if (!dependencies_.archive)
        dependencies_.archive = [](const TransferLog& log) { return LogArchiveProvider::shared().fileTransfer(log).notice; };
}

// RunControl's destructor sets the current run's flag; its posts are dropped from then on.
CopyViewModel::~CopyViewModel() = default;

bool CopyViewModel::isRunning() const {
    return std::holds_alternative<SettlingPhase>(phase_) || std::holds_alternative<CopyingPhase>(phase_) ||
           std::holds_alternative<CheckingPhase>(phase_);
}

bool CopyViewModel::canStart() const { return cardPath_ && destinationPath_ && !isRunning(); }

void CopyViewModel::setPreserveStructure(bool preserve) {
    if (preserve == preserveStructure_) return;
    preserveStructure_ = preserve;
    Q_EMIT changed();
}

std::optional<QString> CopyViewModel::chooseFolder(const QString& prompt, const QString& message) const {
    if (!dependencies_.dialogs.chooseFolder) return std::nullopt;
    return dependencies_.dialogs.chooseFolder(FolderRequest{prompt, message, true, RemovableMounts::parentFolder()});
}

void CopyViewModel::pickCard() {
    if (isRunning()) return;
    auto folder = chooseFolder(QStringLiteral("Select Card"), QStringLiteral("Pick the SD card to copy from."));
    // A panel's nested event loop may have delivered a run's start meanwhile.
    if (!folder || folder->isEmpty() || isRunning()) return;
    cardPath_ = *folder;
    phase_ = IdlePhase{};
    Q_EMIT changed();
}

void CopyViewModel::pickDestination() {
    if (isRunning()) return;
    auto folder = chooseFolder(QStringLiteral("Select Destination"),
                               QStringLiteral("Pick the drive/folder to copy verified files to."));
    if (!folder || folder->isEmpty() || isRunning()) return;
    destinationPath_ = *folder;
    destinationVolume_ = tessaline::VolumePin::of(fsPath(*folder));
    phase_ = IdlePhase{};
    Q_EMIT changed();
}

std::optional<tessaline::VolumePin> CopyViewModel::volumeForRun() {
    if (!destinationVolume_ || destinationVolume_->isReachable()) return destinationVolume_;
    // The same drive connected again (its file system's UUID) is the drive that was chosen;
    // anything else at that path, or nothing, is refused by the engine file by file.
    auto now = tessaline::VolumePin::of(fsPath(*destinationPath_));
    if (now && destinationVolume_->uuid && now->uuid == destinationVolume_->uuid) destinationVolume_ = now;
    return destinationVolume_;
}

void CopyViewModel::start() {
    if (!cardPath_ || !destinationPath_) return;
    if (isRunning()) return;
    RunControl::Ticket ticket = runs_.begin();
    wasStopped_ = false;
    filingNotice_.reset();
    sampler_.reset();
    phase_ = SettlingPhase{0};

    CopyEngine::Options options;
    options.preserveStructure = preserveStructure_;
    options.verifyAfterCopy = true;
    options.skipIfDestinationVerifies = true;
    options.chunkSize = chunkSize;
    options.destinationVolume = volumeForRun();

    Executor* executor = &Executor::shared();
    executor->userInitiated([ticket, copy = dependencies_.copy, archive = dependencies_.archive, executor,
                             card = fsPath(*cardPath_), destination = fsPath(*destinationPath_), options,
                             settle = dependencies_.settle, self = this] {
        work(ticket, copy, archive, executor, card, destination, options, settle, self);
    });
    Q_EMIT changed();
}

// The worker. `self` is only carried into posted calls, which run on the main thread and
// only while the view model exists and this run is its current one.
void CopyViewModel::work(RunControl::Ticket ticket, CopyRunner copy,
                         Archiver archive, Executor* executor, fs::path card,
                         fs::path destination, CopyEngine::Options options, tessaline::SettleOptions settle,
                         CopyViewModel* self) {
    // The file being copied, as the engine last announced it; this thread's alone.
    QString currentName;
    int currentIndex = 0;
    int currentTotal = 0;
    // The run's bytes as its last event gave them (for a read-back, which sends no fileProgress).
    int64_t overallCopied = 0;
    int64_t overallBytes = 0;
    int64_t handledBytes = 0;
    bool readingBack = false;  // a read-back is shown, until its file finishes
    auto onEvent = [&](const CopyEngine::Event& event) {
        if (const auto* settling = std::get_if<CopyEngine::SettlingEvent>(&event)) {
            ticket.post([self, q = settling->quietRemaining] { self->applySettling(q); });
        } else if (const auto* planned = std::get_if<CopyEngine::PlannedEvent>(&event)) {
            currentTotal = planned->fileCount;
            overallBytes = planned->totalBytes;
        } else if (const auto* checking = std::get_if<CopyEngine::CheckingEvent>(&event);
                   checking && checking->phase == CopyEngine::CheckingEvent::Phase::readBack) {
            // Shown with the copy it proves, not as a check of its own: the Copy section keeps
            // its copying page, so small files do not make it switch pages at every file.
            readingBack = true;
            ticket.post([self, value = CopyingPhase{currentName, currentIndex, currentTotal, overallCopied,
                                                   overallBytes, *checking}] { self->applyReadBack(value); });
        } else if (const auto* started = std::get_if<CopyEngine::FileStartedEvent>(&event)) {
            currentName = fromName(started->name);
            currentIndex = started->index;
            currentTotal = started->total;
        } else if (const auto* progress = std::get_if<CopyEngine::FileProgressEvent>(&event)) {
            overallCopied = progress->overallBytesCopied;
            overallBytes = progress->overallBytes;
            ticket.post([self, value = CopyingPhase{currentName, currentIndex, currentTotal,
                                                   progress->overallBytesCopied, progress->overallBytes}] {
                self->applyProgress(value);
            });
        } else if (const auto* finished = std::get_if<CopyEngine::FileFinishedEvent>(&event)) {
            currentIndex = finished->index;
            currentTotal = finished->total;
            handledBytes += finished->outcome.byteSize;
            overallCopied = handledBytes;
            if (readingBack) {
                readingBack = false;
                ticket.post([self, value = CopyingPhase{currentName, currentIndex, currentTotal, overallCopied,
                                                       overallBytes}] { self->applyReadBack(value); });
            }
        } else if (const auto* checking = std::get_if<CopyEngine::CheckingEvent>(&event)) {
            ticket.post([self, value = CheckingPhase{*checking}] { self->applyChecking(value); });
        }
    };

    std::shared_ptr<const TransferLog> log;
    std::optional<QString> failure;
    const tessaline::EpochSeconds startedAt = tessaline::nowEpoch();
    try {
        CopyEngine::CopyRun run = copy(card, destination, options, settle, ticket.cancelTest(), onEvent);
        log = std::make_shared<const TransferLog>(
            TransferLog::fromRun(card, destination, options.preserveStructure, startedAt, tessaline::nowEpoch(), run));
    } catch (const std::exception& error) {
        failure = QString::fromStdString(error.what());
    } catch (...) {
        failure = QStringLiteral("The copy failed for an unknown reason.");
    }

    // Filed here rather than on the main thread, so a log is kept in the archive even when
    // its window closed while the copy ran.
    if (log) {
        executor->utility([archive, log, ticket, self] {
            std::optional<QString> notice;
            try {
                notice = archive(*log);
            } catch (...) {
                // Filing never stops the notification: the log store re-lists either way.
            }
            if (notice) {
                ticket.post([self, text = *notice] {
                    self->filingNotice_ = text;
                    Q_EMIT self->changed();
                });
            }
            AppEvents::postLogArchived();
            giveBackFreedMemory();
        });
    }
    ticket.post([self, id = ticket.id, log, failure] { self->applyResult(id, log, failure); });
    giveBackFreedMemory();
}

void CopyViewModel::applySettling(double quietRemaining) {
    phase_ = SettlingPhase{quietRemaining};
    Q_EMIT changed();
}

void CopyViewModel::applyProgress(CopyingPhase progress) {
    const int64_t copied = progress.overallBytesCopied;
    const int64_t total = progress.overallBytes;
    phase_ = std::move(progress);
    sampler_.record(copied, total);
    Q_EMIT changed();
}

void CopyViewModel::applyChecking(CheckingPhase checking) {
    if (phase_ == Phase{checking}) return;
    phase_ = std::move(checking);
    Q_EMIT changed();
}

void CopyViewModel::applyReadBack(CopyingPhase readingBack) {
    if (phase_ == Phase{readingBack}) return;
    phase_ = std::move(readingBack);
    Q_EMIT changed();
}

void CopyViewModel::applyResult(quint64 runId, std::shared_ptr<const TransferLog> log,
                                std::optional<QString> failure) {
    // A run that returned a log was stopped when its log says so: a Stop the engine noticed
    // only after every planned file was handled, or given after it returned, cut nothing
    // short. A run without a log falls back to the flag (posted calls run only for the
    // current run, so the current flag is this run's).
    wasStopped_ = log ? log->wasCancelled : runs_.currentFlag()->isCancelled();
    runs_.finish(runId);
    if (log) {
        lastLog_ = log;
        phase_ = DonePhase{std::move(log)};
        Q_EMIT lastLogChanged();
    } else {
        phase_ = FailedPhase{failure.value_or(QString())};
    }
    Q_EMIT changed();
}

void CopyViewModel::setLastLog(std::shared_ptr<const TransferLog> log) {
    if (log == lastLog_) return;
    lastLog_ = std::move(log);
    Q_EMIT lastLogChanged();
    Q_EMIT changed();
}

void CopyViewModel::stop() {
    if (runs_.isActive()) runs_.cancel();
}

std::optional<QString> CopyViewModel::runningNoun() const {
    if (runs_.isActive()) return QStringLiteral("copy");
    return std::nullopt;
}

}  // namespace brindlecove
