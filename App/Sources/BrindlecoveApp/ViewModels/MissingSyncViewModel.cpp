#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"

#include "BrindlecoveApp/MemoryRelease.hpp"

#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"
#include "BrindlecoveApp/Platform/PanelFolder.hpp"
#include "BrindlecoveApp/Platform/RemovableMounts.hpp"

#include "Tessaline/Bookmarks/BookmarkError.hpp"
#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Rescue/RescueCoverage.hpp"
#include "Tessaline/Volumes/VolumeLabel.hpp"

#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <set>

namespace brindlecove {

namespace fs = std::filesystem;
using tessaline::CopyEngine;

namespace {

constexpr int64_t rescueChunkSize = 8'388'608;

// A run in which no file was copied: every file failed with the same reason (the
// destination is not there, or the copy could not run at all).
CopyEngine::CopyRun failedRun(const std::vector<tessaline::MediaFile>& files, const fs::path& card,
                              const fs::path& destination, const std::string& reason) {
    const auto now = tessaline::nowEpoch();
    CopyEngine::CopyRun run;
    run.plannedFileCount = static_cast<int>(files.size());
    for (const auto& file : files) {
        CopyEngine::FileOutcome outcome;
        outcome.sourceURL = file.url;
        outcome.relativePath = CopyEngine::relativePath(file.url, card);
        outcome.destinationURL = destination / outcome.relativePath;
        outcome.byteSize = file.byteSize;
        outcome.status = CopyEngine::FileStatus::failed(reason);
        outcome.startedAt = now;
        outcome.finishedAt = now;
        run.plannedBytes += file.byteSize;
        run.outcomes.push_back(std::move(outcome));
    }
    return run;
}

}  // namespace

MissingSyncViewModel::MissingSyncViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)) {
    if (!dependencies_.mountPointOf) dependencies_.mountPointOf = RescueDestination::systemMountPoints();
}

MissingSyncViewModel::~MissingSyncViewModel() = default;

void MissingSyncViewModel::setPreserveStructure(bool preserve) {
    if (preserveStructure_ == preserve) return;
    preserveStructure_ = preserve;
    Q_EMIT changed();
}

void MissingSyncViewModel::setDestination(const QString& folder, bool suggested) {
    destination_ = folder;
    destinationIsSuggested_ = suggested;
    destinationPin_ = tessaline::VolumePin::of(fsPath(folder));
}

void MissingSyncViewModel::adoptSuggestionIfNeeded(const tessaline::VerificationReport& report) {
    if (destination_ && !destinationIsSuggested_) return;
    auto folder = RescueDestination::commonFolderOfConfirmed(report, dependencies_.mountPointOf);
    if (!folder) {
        // A suggestion belongs to the report it came from: another card's clips must never be
        // offered a folder of the earlier card.
        if (!destination_) return;
        destination_.reset();
        destinationPin_.reset();
        destinationIsSuggested_ = false;
        Q_EMIT changed();
        return;
    }
    if (destination_ == folder && destinationIsSuggested_) return;
    setDestination(*folder, true);
    Q_EMIT changed();
}

void MissingSyncViewModel::pickDestination() {
    if (!dependencies_.dialogs.chooseFolder) return;
    FolderRequest request;
    request.prompt = QStringLiteral("Select Folder");
    request.message =
        QStringLiteral("Pick the folder to copy the missing files into (where the rest of the shoot already lives).");
    request.canCreateFolders = true;
    // At the destination, else where backup drives mount, else home.
    request.startFolder = PanelFolder::orHome(destination_ ? *destination_ : RemovableMounts::parentFolder());
    auto chosen = dependencies_.dialogs.chooseFolder(request);
    if (!chosen) return;
    // A run may have started while the panel was open; its phase is not cleared under it.
    setDestination(*chosen, false);
    if (!isRunning()) phase_ = Idle{};
    Q_EMIT changed();
}

namespace {

// The missing clips' files a rescue copies, in order, each once (`listed` holds their paths):
// the primaries without a proven copy (a member the scan proved is backed up already), then
// the sidecars.
std::vector<tessaline::MediaFile> missingClipFiles(const tessaline::VerificationReport& report,
                                                   std::set<std::string>& listed) {
    std::vector<tessaline::MediaFile> files;
    auto add = [&](tessaline::MediaFile file) {
        if (listed.insert(file.url.native()).second) files.push_back(std::move(file));
    };
    for (const auto& result : report.results) {
        if (!result.isMissing()) continue;
        for (size_t m : result.unprovenMembers()) {
            const auto& primary = result.group.primaryFiles[m];
            add({primary.url, tessaline::MediaFile::Kind::media, primary.byteSize});
        }
        for (const auto& sidecar : result.group.sidecars) {
            QFileInfo info(qtPath(sidecar));
            add({sidecar, tessaline::MediaFile::Kind::sidecar, info.isFile() ? info.size() : 0});
        }
    }
    return files;
}

}  // namespace

std::vector<tessaline::MediaFile> MissingSyncViewModel::filesToRescue(const tessaline::VerificationReport& report) {
    std::set<std::string> listed;  // a sidecar shared by two clips, or also an other file, is copied once
    std::vector<tessaline::MediaFile> files = missingClipFiles(report, listed);
    auto add = [&](tessaline::MediaFile file) {
        if (listed.insert(file.url.native()).second) files.push_back(std::move(file));
    };
    for (const auto& other : report.otherFiles) {
        if (!other.isOnlyOnCard()) continue;
        using Kind = tessaline::MediaFile::Kind;
        add({other.url, other.role == tessaline::OtherFile::Role::sidecar ? Kind::sidecar : Kind::other,
             other.byteSize});
    }
    return files;
}

int MissingSyncViewModel::clipFilesToRescue(const tessaline::VerificationReport& report) {
    std::set<std::string> listed;
    return static_cast<int>(missingClipFiles(report, listed).size());
}

void MissingSyncViewModel::start(const tessaline::VerificationReport& report) {
    if (!destination_ || isRunning() || runs_.isActive()) return;
    auto files = filesToRescue(report);
    if (files.empty()) return;

    auto ticket = runs_.begin();
    wasStopped_ = false;
    runOutlivedItsReport_ = false;
    filingNotice_.reset();
    int64_t total = 0;
    for (const auto& file : files) total += file.byteSize;
    phase_ = Running{QString(), 0, total};
    Q_EMIT changed();

    const fs::path card = report.cardPath;
    const fs::path destination = fsPath(*destination_);
    const bool preserve = preserveStructure_;
    const auto chosenPin = destinationPin_;
    const auto storeURL = dependencies_.bookmarkStoreURL;
    const auto io = dependencies_.copyIO;

    Executor::shared().userInitiated([this, ticket, files = std::move(files), card, destination, preserve, chosenPin,
                                      storeURL, io, scanned = report] {
        const auto startedAt = tessaline::nowEpoch();
        CopyEngine::CopyRun run;
        // The closing looks at the card: the copy's at the files it proved (copyLook of them),
        // then the rescue's at every file the scan listed (cardFiles).
        int copyLook = 0;
        const int cardFiles = scanned.cardFiles ? static_cast<int>(scanned.cardFiles->size()) : 0;
        auto pin = RescueDestination::stillAvailable(destination, chosenPin);
        if (!pin) {
            run = failedRun(files, card, destination,
                            RescueDestination::unavailableText(qtPath(destination)).toStdString());
        } else {
            // Every run ends with a log, even when the copy itself could not run.
            try {
                const CopyEngine engine = io ? CopyEngine(io) : CopyEngine();
                CopyEngine::Options options;
                options.preserveStructure = preserve;
                options.verifyAfterCopy = true;
                options.skipIfDestinationVerifies = true;
                options.chunkSize = rescueChunkSize;
                options.destinationVolume = pin;
                std::string currentName;
                auto onEvent = [this, &ticket, &currentName, &copyLook,
                                cardFiles](const CopyEngine::Event& event) {
                    if (const auto* started = std::get_if<CopyEngine::FileStartedEvent>(&event)) {
                        currentName = started->name;
                    } else if (const auto* progress = std::get_if<CopyEngine::FileProgressEvent>(&event)) {
                        ticket.post([this, name = QFile::decodeName(QByteArray::fromStdString(currentName)),
                                     copied = progress->overallBytesCopied, total = progress->overallBytes] {
                            applyProgress(name, copied, total);
                        });
                    } else if (const auto* checking = std::get_if<CopyEngine::CheckingEvent>(&event)) {
                        CopyEngine::CheckingEvent check = *checking;
                        if (check.phase == CopyEngine::CheckingEvent::Phase::cardAgain) {
                            // One count for both closing looks: the copy's, then the card's whole.
                            copyLook = check.total;
                            check.total += cardFiles;
                        }
                        ticket.post([this, check] { applyChecking(check); });
                    }
                };
                auto copy = [&] { return engine.copy(files, card, destination, options, ticket.cancelTest(), onEvent); };

                // A granted drive is copied to with its grant held open; the grant's own folder is
                // never the target. Without a usable grant the destination is copied to directly.
                tessaline::SecurityScopedBookmarkStore store(storeURL);
                auto label = tessaline::volumeLabel(destination);
                auto granted = store.grantedVolumeLabels();
                bool copied = false;
                if (label && std::find(granted.begin(), granted.end(), *label) != granted.end()) {
                    try {
                        run = store.withAccess(*label, [&](const fs::path&) { return copy(); });
                        copied = true;
                    } catch (const tessaline::BookmarkError&) {
                    }
                }
                if (!copied) run = copy();
            } catch (const std::exception& error) {
                run = failedRun(files, card, destination, error.what());
            }
        }
        auto log = tessaline::TransferLog::fromRun(card, destination, preserve, startedAt, tessaline::nowEpoch(),
                                                   run);
        // The rescue stands for the card only together with the scan it came from: what
        // neither proved is named, and keeps the card unsafe to reuse.
        if (!log.wasCancelled) {
            auto looked = [this, &ticket, copyLook](int done, int total) {
                ticket.post([this, check = CopyEngine::CheckingEvent{CopyEngine::CheckingEvent::Phase::cardAgain,
                                                                      copyLook + done, copyLook + total}] {
                    applyChecking(check);
                });
            };
            for (auto& note : tessaline::RescueCoverage::leftOnCard(scanned, log, looked))
                log.cardFileNotes.push_back(std::move(note));
        }
        const int gone = failedGoneFromCard(log);
        ticket.post([this, id = ticket.id, log = std::move(log), gone]() mutable { finishRun(id, std::move(log), gone); });
        giveBackFreedMemory();
    });
}

void MissingSyncViewModel::applyProgress(const QString& fileName, qint64 copied, qint64 total) {
    if (!isRunning()) return;
    Running next{fileName, copied, total};
    if (std::get<Running>(phase_) == next) return;
    phase_ = std::move(next);
    Q_EMIT changed();
}

void MissingSyncViewModel::applyChecking(const CopyEngine::CheckingEvent& check) {
    if (!isRunning()) return;
    Running next = std::get<Running>(phase_);
    next.checking = check;
    if (std::get<Running>(phase_) == next) return;
    phase_ = std::move(next);
    Q_EMIT changed();
}

int MissingSyncViewModel::failedGoneFromCard(const tessaline::TransferLog& log) {
    int gone = 0;
    for (const auto& outcome : log.outcomes) {
        if (outcome.status.landedSafely()) continue;
        std::error_code error;
        const auto status = fs::symlink_status(outcome.sourceURL, error);
        // Only a file known to be absent counts as gone; an unreadable card may still hold it.
        if (status.type() == fs::file_type::not_found) ++gone;
    }
    return gone;
}

void MissingSyncViewModel::recheckCard() {
    const auto* done = std::get_if<Done>(&phase_);
    if (!done || done->log.failedCount() == 0) return;
    Executor::shared().userInitiated([self = QPointer<MissingSyncViewModel>(this), serial = outcomeSerial_,
                                      log = done->log] {
        const int gone = failedGoneFromCard(log);
        MainThread::post([self, serial, gone] {
            if (!self || self->outcomeSerial_ != serial) return;
            auto* shown = std::get_if<Done>(&self->phase_);
            if (!shown || shown->goneFromCard == gone) return;
            shown->goneFromCard = gone;
            Q_EMIT self->changed();
        });
    });
}

void MissingSyncViewModel::finishRun(quint64 id, tessaline::TransferLog log, int goneFromCard) {
    runs_.finish(id);
    ++outcomeSerial_;
    lastLog_ = std::make_shared<const tessaline::TransferLog>(log);
    Q_EMIT lastLogChanged();
    // Stopped when the log says a file was left uncopied: a Stop that came after the last
    // file was handled cut nothing short.
    wasStopped_ = log.wasCancelled;
    LogArchiveProvider::shared().fileInBackground(
        log, [self = QPointer<MissingSyncViewModel>(this), id](const QString& notice) {
            if (!self || !self->runs_.isCurrent(id)) return;
            self->filingNotice_ = notice;
            Q_EMIT self->changed();
        });
    if (runOutlivedItsReport_)
        phase_ = Idle{};
    else
        phase_ = Done{std::move(log), goneFromCard};
    Q_EMIT changed();
}

void MissingSyncViewModel::reportReplaced() {
    if (isRunning()) {
        runOutlivedItsReport_ = true;
        return;
    }
    if (std::holds_alternative<Idle>(phase_)) return;
    phase_ = Idle{};
    wasStopped_ = false;
    filingNotice_.reset();
    Q_EMIT changed();
}

std::optional<QString> MissingSyncViewModel::runningNoun() const {
    if (runs_.isActive()) return QStringLiteral("rescue copy");
    return std::nullopt;
}

void MissingSyncViewModel::stop() {
    if (runs_.isActive()) runs_.cancel();
}

}  // namespace brindlecove
