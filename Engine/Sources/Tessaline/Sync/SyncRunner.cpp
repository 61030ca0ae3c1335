#include "Tessaline/Sync/SyncRunner.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Copy/DestinationInsideCard.hpp"
#include "Tessaline/Copy/IdleSettleDetector.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Sync/DestinationVolume.hpp"
#include "Tessaline/Sync/SourceOnCard.hpp"
#include "Tessaline/Volumes/VolumePin.hpp"

#include <algorithm>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

// The volume the destination is on now (it need not exist yet): its nearest existing folder's.
std::optional<VolumePin> pinDestination(const fs::path& destination) {
    auto folder = nearestExistingFolder(destination);
    if (!folder) return std::nullopt;
    return VolumePin::of(*folder);
}

// Whether the granted folder lies on the pinned file system: the same device, or the same
// file-system UUID (the granted volume mounted a second time).
bool isOnPinnedVolume(const fs::path& grantedFolder, const VolumePin& pin) {
    auto granted = VolumePin::of(grantedFolder);
    if (!granted) return false;
    return granted->device == pin.device || (pin.uuid && pin.uuid == granted->uuid);
}

// A run refused before anything was read: its log holds one failed entry, the source folder
// with the reason, so the history counts it as a failed run.
SyncRunner::Result refusedRun(SyncReport::Trigger trigger, const fs::path& sourceFolder, const fs::path& destination,
                              bool preserveStructure, const std::string& reason) {
    const EpochSeconds now = nowEpoch();
    CopyEngine::FileOutcome outcome;
    outcome.sourceURL = sourceFolder;
    outcome.destinationURL = destination;
    outcome.relativePath = CopyEngine::relativePath(sourceFolder, sourceFolder);
    outcome.status = CopyEngine::FileStatus::failed(reason);
    outcome.startedAt = now;
    outcome.finishedAt = now;
    CopyEngine::CopyRun copyRun{{outcome}, false, 1, 0};
    TransferLog log = TransferLog::fromRun(sourceFolder, destination, preserveStructure, now, now, copyRun);
    SyncReport::Run record = SyncReport::Run::fromLog(trigger, log);
    return SyncRunner::Result{std::move(log), std::move(record), reason};
}

}  // namespace

SyncRunner::SyncError::SyncError(Kind kind, std::string path, const std::string& message)
    : std::runtime_error(message), kind_(kind), path_(std::move(path)) {}

SyncRunner::SyncError SyncRunner::SyncError::destinationUnavailable(const std::string& path) {
    return SyncError(Kind::destinationUnavailable, path,
                     "The destination drive for " + toDisplayUtf8(std::string_view(path)) +
                         " isn't connected — plug it in and re-run.");
}

SyncRunner::SyncError SyncRunner::SyncError::notTheGrantedDrive(const std::string& path, const std::string& label) {
    return SyncError(Kind::notTheGrantedDrive, path,
                     "The drive at " + toDisplayUtf8(std::string_view(path)) + " is not the granted “" + label +
                         "” — connect the right drive and re-run.");
}

SyncRunner::SyncRunner(std::shared_ptr<SecurityScopedBookmarkStore> bookmarkStore, CopyEngine engine)
    : bookmarkStore_(std::move(bookmarkStore)), engine_(std::move(engine)) {}

bool SyncRunner::destinationVolumeAvailable(const fs::path& destination) {
    return destinationIsConnected(destination);
}

SyncRunner::Result SyncRunner::run(const SyncPair& pair, const fs::path& sourceRoot, SyncReport::Trigger trigger,
                                   const SettleOptions& settle, const CopyEngine::CancelTest& isCancelled,
                                   const CopyEngine::EventHandler& onEvent) const {
    fs::path destination(pair.destinationPath);
    // The folder to copy must lie on the card, reached without a link: otherwise nothing is
    // read, and the run is a failed one in the history.
    std::optional<fs::path> relative = pair.sourceRelativeFolder();
    if (!relative) {
        fs::path named = sourceRoot / pair.sourceSubpath.value_or("");
        return refusedRun(trigger, named, destination, pair.preserveStructure, sourceOutsideCardText(named));
    }
    const fs::path sourceFolder = relative->empty() ? sourceRoot : sourceRoot / *relative;
    if (auto reason = sourceOffCardReason(sourceRoot, *relative))
        return refusedRun(trigger, sourceFolder, destination, pair.preserveStructure, *reason);

    if (!destinationVolumeAvailable(destination)) throw SyncError::destinationUnavailable(pair.destinationPath);
    // The drive found connected is the one the copy may write to: a drive pulled during the
    // settle wait leaves its empty mount folder on the system disk, and the copy engine
    // refuses every folder and file that is not on this volume.
    std::optional<VolumePin> pin = pinDestination(destination);
    if (!pin) throw SyncError::destinationUnavailable(pair.destinationPath);
    CopyEngine::Options options = pair.copyOptions();
    options.destinationVolume = *pin;

    // Refused before the settle wait, as the card copy refuses it before its own.
    if (const auto onCard = destinationOnCard(destination, sourceFolder))
        throw CopyError::destinationInsideSource(sourceFolder, onCard->doubt);

    // The start includes the settle wait.
    EpochSeconds startedAt = nowEpoch();

    // The settle wait (settling and settleTimedOut events; a stop during it ends the run), then
    // the source folder is checked again, just before the card copy (with no wait of its own:
    // a cancellation test, then the card's file set below the source folder, unreadable
    // folders as failed outcomes, and the copy of the list).
    std::optional<std::string> refusal;
    auto copy = [&] {
        auto send = [&](CopyEngine::Event event) {
            if (onEvent) onEvent(event);
        };
        IdleSettleDetector::Outcome settled = IdleSettleDetector().waitUntilSettled(
            sourceFolder, settle, isCancelled, [&](double remaining) { send(CopyEngine::SettlingEvent{remaining}); });
        if (settled == IdleSettleDetector::Outcome::cancelled) {
            send(CopyEngine::CancelledEvent{});
            return CopyEngine::CopyRun{{}, true, 0, 0};
        }
        if (settled == IdleSettleDetector::Outcome::timedOut) send(CopyEngine::SettleTimedOutEvent{});
        refusal = sourceOffCardReason(sourceRoot, *relative);
        if (refusal) return CopyEngine::CopyRun{};
        return engine_.copyCardFolder(sourceRoot, *relative, destination, options, SettleOptions::none(), isCancelled,
                                      onEvent);
    };

    CopyEngine::CopyRun copyRun;
    std::optional<std::string> label = destinationVolumeName(destination);
    std::vector<std::string> granted;
    if (label && bookmarkStore_) granted = bookmarkStore_->grantedVolumeLabels();
    if (label && std::find(granted.begin(), granted.end(), *label) != granted.end()) {
        copyRun = bookmarkStore_->withAccess(*label, [&](const fs::path& grantedFolder) {
            // The grant opens its own file system wherever that is mounted; another drive
            // bearing the name at the destination path must not receive the copy.
            if (!isOnPinnedVolume(grantedFolder, *pin)) throw SyncError::notTheGrantedDrive(pair.destinationPath, *label);
            return copy();
        });
    } else {
        copyRun = copy();
    }

    if (refusal) return refusedRun(trigger, sourceFolder, destination, pair.preserveStructure, *refusal);
    TransferLog log = TransferLog::fromRun(sourceFolder, destination, pair.preserveStructure, startedAt, nowEpoch(),
                                           copyRun);
    SyncReport::Run record = SyncReport::Run::fromLog(trigger, log);
    return Result{std::move(log), std::move(record)};
}

}  // namespace tessaline
