#include "Tessaline/Sync/SyncReportStore.hpp"

#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Support/DataFolder.hpp"
#include "Tessaline/Support/ExclusiveFileLock.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/JsonText.hpp"
#include "Tessaline/Support/ReadFile.hpp"
#include "Tessaline/Support/RenameAside.hpp"

#include <cerrno>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

enum class ReadState { ok, missing, unreadable };

struct History {
    ReadState state = ReadState::missing;
    std::vector<SyncReport::Run> runs;
};

History readHistory(const fs::path& url) {
    History history;
    std::string text;
    try {
        text = readWholeFile(url);
    } catch (const FileReadError& e) {
        history.state = e.error() == ENOENT ? ReadState::missing : ReadState::unreadable;
        return history;
    }
    try {
        auto array = nlohmann::json::parse(text);
        if (!array.is_array()) throw std::invalid_argument("not an array");
        for (const auto& item : array) history.runs.push_back(SyncReport::Run::fromJson(item));
        history.state = ReadState::ok;
    } catch (const std::exception&) {
        history.runs.clear();
        history.state = ReadState::unreadable;
    }
    return history;
}

}  // namespace

SyncReportStore::SyncReportStore(std::optional<fs::path> storeURL, SetAsideHandler onSetAside)
    : storeURL_(storeURL ? std::move(*storeURL) : dataFilePath("sync-runs.json")),
      onSetAside_(std::move(onSetAside)) {}

std::optional<fs::path> SyncReportStore::append(const SyncReport::Run& run) {
    std::optional<fs::path> setAside;
    try {
        std::lock_guard guard(lock_);
        std::error_code ec;
        if (storeURL_.has_parent_path()) fs::create_directories(storeURL_.parent_path(), ec);
        ExclusiveFileLock fileLock(storeURL_);
        History history = readHistory(storeURL_);
        if (history.state == ReadState::unreadable) {
            setAside = renameAsideUnreadable(storeURL_);
            // A history that could not be kept aside is not overwritten either.
            if (!setAside) return std::nullopt;
        }
        history.runs.push_back(run);
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (const auto& item : history.runs) array.push_back(item.toJson());
        writeFileAtomically(storeURL_, jsonText(array, 2));
    } catch (const std::exception&) {
        // The run is lost; the previous file stays whole because the write is atomic.
    }
    if (setAside && onSetAside_) {
        try {
            onSetAside_(*setAside);
        } catch (...) {
        }
    }
    return setAside;
}

std::vector<SyncReport::Run> SyncReportStore::allRuns() const {
    std::lock_guard guard(lock_);
    return readHistory(storeURL_).runs;
}

SyncReport SyncReportStore::report(std::optional<EpochSeconds> since) const {
    EpochSeconds now = nowEpoch();
    SyncReport report;
    report.windowStart = since ? *since : localStartOfDay(now);
    std::vector<SyncReport::Run> runs;
    {
        std::lock_guard guard(lock_);
        runs = readHistory(storeURL_).runs;
    }
    for (auto& run : runs)
        if (run.at >= report.windowStart) report.runs.push_back(std::move(run));
    report.generatedAt = nowEpoch();
    return report;
}

void SyncReportStore::clear() {
    std::lock_guard guard(lock_);
    std::error_code ec;
    fs::remove(storeURL_, ec);
}

}  // namespace tessaline
