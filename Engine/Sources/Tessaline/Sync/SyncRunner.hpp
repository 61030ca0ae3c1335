#pragma once
// Runs one sync pair end to end: checks that the source folder lies on the card (reached
// without a link, on the card's device), checks that the destination drive is connected and pins
// that volume (every folder and file of the copy must land on it, so a drive pulled during
// the settle wait never lets the copy fall through to the system disk), opens the
// remembered access to it when one is granted (and then requires the drive to be the granted
// one), waits for the source to settle, copies with verification every file an erase of the
// card would delete below the source folder (the card copy of that folder), and returns the run's transfer log with its history record. It files nothing: the caller appends the record, and no sync transfer
// log reaches the log archive.
//
// Holds no state between runs; runs of different pairs may go on at once on different
// threads. run() blocks its thread for the whole settle wait and copy; the callbacks are
// called on that thread.

#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Copy/SettleOptions.hpp"
#include "Tessaline/Sync/SyncPair.hpp"
#include "Tessaline/Sync/SyncReport.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace tessaline {

class SecurityScopedBookmarkStore;

class SyncRunner {
public:
    struct Result {
        TransferLog log;
        SyncReport::Run run;
        // Set when the run was refused before reading anything (its source folder does not
        // lie on the card): the reason in words. The log then holds one failed entry, the
        // source folder, so the record counts as a failed run.
        std::optional<std::string> failure;
    };

    class SyncError : public std::runtime_error {
    public:
        enum class Kind { destinationUnavailable, notTheGrantedDrive };
        // The destination is not on a connected drive. what(): "The destination drive for
        // <path> isn't connected — plug it in and re-run." with the pair's path as stored.
        static SyncError destinationUnavailable(const std::string& path);
        // The drive at the destination bears a granted name but is another file system than
        // the granted one. what(): "The drive at <path> is not the granted “<label>” —
        // connect the right drive and re-run."
        static SyncError notTheGrantedDrive(const std::string& path, const std::string& label);
        Kind kind() const { return kind_; }
        const std::string& path() const { return path_; }

    private:
        SyncError(Kind kind, std::string path, const std::string& message);
        Kind kind_;
        std::string path_;
    };

    explicit SyncRunner(std::shared_ptr<SecurityScopedBookmarkStore> bookmarkStore, CopyEngine engine = CopyEngine());

    // One run of `pair` from the mounted volume at `sourceRoot`. A source folder that does not
    // lie on the card (a subfolder naming a place outside it, a folder on the way that is a
    // link or on another device; see SourceOnCard.hpp) is refused before anything else, and
    // again when it is found so once the card has settled: nothing is read or written and the
    // Result carries the `failure`. Throws, in the order
    // they can arise: SyncError::destinationUnavailable (nothing touched yet); the bookmark
    // store's not-granted error when the destination volume is granted but cannot be
    // opened; SyncError::notTheGrantedDrive when the volume at the destination bears the
    // granted name but is not the granted file system (before the settle wait); CopyError
    // when the destination lies inside the source (by path, or through any mount of the
    // source's file system) or the source cannot be scanned. Access opened here is closed
    // on every path. Per-file failures are outcomes in the log. A run stopped by
    // `isCancelled` during the settle wait returns a stopped log with no outcomes and nothing
    // planned; one stopped during the copy, a stopped log of the files handled before.
    Result run(const SyncPair& pair, const std::filesystem::path& sourceRoot, SyncReport::Trigger trigger,
               const SettleOptions& settle, const CopyEngine::CancelTest& isCancelled = {},
               const CopyEngine::EventHandler& onEvent = {}) const;

    // Whether `destination` counts as connected (see DestinationVolume.hpp).
    static bool destinationVolumeAvailable(const std::filesystem::path& destination);

private:
    std::shared_ptr<SecurityScopedBookmarkStore> bookmarkStore_;
    CopyEngine engine_;
};

}  // namespace tessaline
