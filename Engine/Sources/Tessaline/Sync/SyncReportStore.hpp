#pragma once
// Owns "sync-runs.json", the history of sync runs (a JSON array, oldest first, never
// trimmed). Every access reads the file afresh; each whole read-modify-write of append() is
// exclusive within the process (a mutex) and between processes (flock on
// "sync-runs.json.lock"). Safe to call from any thread; make one store per file.

#include "Tessaline/Sync/SyncReport.hpp"

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace tessaline {

class SyncReportStore {
public:
    // Called (on the appending thread) after an unreadable history was moved aside, with
    // the path it now has, so the owner can say so.
    using SetAsideHandler = std::function<void(const std::filesystem::path& setAside)>;

    // No URL: "<data folder>/sync-runs.json". Touches no file.
    explicit SyncReportStore(std::optional<std::filesystem::path> storeURL = std::nullopt,
                             SetAsideHandler onSetAside = {});
    SyncReportStore(const SyncReportStore&) = delete;
    SyncReportStore& operator=(const SyncReportStore&) = delete;

    const std::filesystem::path& storeURL() const { return storeURL_; }

    // Adds one record at the end. Never throws: a failed write drops the run and leaves the
    // previous file whole. A history that exists but cannot be read or decoded is first
    // renamed to "sync-runs.json.unreadable-<yyyyMMdd-HHmmss>" (its path is returned and
    // given to the handler) instead of being replaced by a history of one run.
    std::optional<std::filesystem::path> append(const SyncReport::Run& run);

    // Every record; empty when the file is missing, unreadable or undecodable.
    std::vector<SyncReport::Run> allRuns() const;

    // The runs at or after `since` (default: the start of the current local day).
    SyncReport report(std::optional<EpochSeconds> since = std::nullopt) const;

    // Removes the history file; failures are ignored.
    void clear();

private:
    std::filesystem::path storeURL_;
    SetAsideHandler onSetAside_;
    mutable std::mutex lock_;
};

}  // namespace tessaline
