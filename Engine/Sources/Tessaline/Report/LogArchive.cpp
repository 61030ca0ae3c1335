#include "Tessaline/Report/LogArchive.hpp"

#include "Tessaline/Report/ReportExporter.hpp"
#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"
#include "Tessaline/Transfer/TransferLogExporter.hpp"
#include "Tessaline/Support/DataFolder.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/JsonText.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/ReadFile.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

constexpr const char* kMetaFileName = "meta.json";
constexpr int kMaxClashSuffix = 1000;
// A meta file is a few hundred bytes; anything far larger is not one and is never read whole.
constexpr int64_t kMaxMetaBytes = int64_t{1} << 20;

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Entry names in the order the file system lists them, hidden ones included;
// nullopt when the folder cannot be opened.
std::optional<std::vector<std::string>> entryNames(const fs::path& folder) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) return std::nullopt;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    return names;
}

std::optional<std::string> trimmedProject(const std::optional<std::string>& project) {
    if (!project) return std::nullopt;
    std::string trimmed = trimmedWhitespace(*project);
    if (trimmed.empty()) return std::nullopt;
    return trimmed;
}

ArchivedLog archivedLog(const LogMeta& meta, const fs::path& folder) {
    ArchivedLog log;
    log.id = folder.string();
    log.kind = meta.kind;
    log.date = meta.date;
    log.title = meta.title;
    log.subtitle = meta.subtitle;
    log.summary = meta.summary;
    log.counts = meta.counts;
    log.hasProblem = meta.hasProblem;
    log.wasStopped = meta.wasStopped;
    log.directory = folder;
    log.primaryFile = folder / meta.primaryFileName;
    log.project = meta.project;
    if (auto names = entryNames(folder)) {
        for (const auto& name : *names)
            if (name != kMetaFileName) log.files.push_back(folder / name);
        std::sort(log.files.begin(), log.files.end(),
                  [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
    }
    return log;
}

// Creates "<base>/<day>/<kind>-<HHmmss>" exclusively; on a clash (two runs in one local
// second, or the repeated hour of a daylight-saving fall-back) the next "-N" name.
std::pair<fs::path, std::string> makeRunFolder(const fs::path& base, LogKind kind, EpochSeconds at) {
    fs::path day = base / localDayStamp(at);
    createFolders(day, 0755);
    std::string stem = std::string(logKindText(kind)) + "-" + localTimeStamp(at);
    for (int attempt = 1; attempt <= kMaxClashSuffix; ++attempt) {
        std::string name = attempt == 1 ? stem : stem + "-" + std::to_string(attempt);
        fs::path folder = day / name;
        if (::mkdir(folder.c_str(), 0755) == 0) return {folder, name};
        if (errno != EEXIST) throw FileWriteError(folder, errno);
    }
    throw FileWriteError(day / stem, EEXIST);
}

}  // namespace

LogArchiveError::LogArchiveError(const fs::path& folder, const std::string& detail)
    : std::runtime_error("The log at " + toDisplayUtf8(folder) + " can't be read: " + detail + ".") {}

LogArchive::LogArchive(fs::path baseDirectory) : baseDirectory_(std::move(baseDirectory)) {}

LogArchive LogArchive::defaultArchive() { return LogArchive(dataFilePath("Logs")); }

ArchivedLog LogArchive::fileRun(LogKind kind, EpochSeconds at, const std::optional<std::string>& project,
                                LogMeta meta,
                                const std::function<void(const fs::path&, const std::string&)>& writeExports) const {
    // Whole seconds, so the returned log equals what list() reads back.
    at = std::floor(at);
    auto [folder, stem] = makeRunFolder(baseDirectory_, kind, at);
    writeExports(folder, stem);
    meta.kind = kind;
    meta.date = at;
    meta.primaryFileName = stem + ".pdf";
    meta.project = trimmedProject(project);
    writeFileAtomically(folder / kMetaFileName, jsonText(meta.toJson(), 2));
    return archivedLog(meta, folder);
}

ArchivedLog LogArchive::archive(const VerificationReport& report, const std::optional<std::string>& project,
                                EpochSeconds at) const {
    std::string card = toDisplayUtf8(std::string_view(lastComponent(report.cardPath)));
    auto confirmed = report.confirmed().size();
    auto missing = report.missing().size();
    auto duplicates = report.duplicates().size();
    auto mismatches = report.nameMismatches().size();
    LogMeta meta;
    meta.title = card;
    meta.subtitle = "Scan of " + card;
    meta.summary = std::to_string(confirmed) + " confirmed · " + std::to_string(missing) + " missing · " +
                   std::to_string(duplicates) + " duplicate";
    meta.counts = {{"confirmed", static_cast<int64_t>(confirmed)},
                   {"missing", static_cast<int64_t>(missing)},
                   {"duplicates", static_cast<int64_t>(duplicates)},
                   {"nameMismatch", static_cast<int64_t>(mismatches)}};
    const auto otherOnlyOnCard = report.otherFilesOnlyOnCard().size();
    if (!report.otherFiles.empty()) {
        meta.counts["otherFiles"] = static_cast<int64_t>(report.otherFiles.size());
        meta.counts["otherFilesOnlyOnCard"] = static_cast<int64_t>(otherOnlyOnCard);
    }
    if (otherOnlyOnCard > 0) meta.summary += " · " + std::to_string(otherOnlyOnCard) + " other only on card";
    // A card whose folders could not all be read, or that holds other files found on no
    // drive, is not fully backed up either.
    meta.hasProblem = missing > 0 || mismatches > 0 || !report.unreadableCardFolders.empty() || otherOnlyOnCard > 0;
    return fileRun(LogKind::verify, at, project, std::move(meta), [&](const fs::path& folder, const std::string& stem) {
        ReportExporter::write(report, folder, stem);
    });
}

ArchivedLog LogArchive::archive(const TransferLog& log, const std::optional<std::string>& project,
                                EpochSeconds at) const {
    std::string source = toDisplayUtf8(std::string_view(lastComponent(log.sourceURL)));
    std::string destination = toDisplayUtf8(std::string_view(lastComponent(log.destinationURL)));
    LogMeta meta;
    meta.title = destination;
    meta.subtitle = source + " → " + destination;
    meta.summary = std::to_string(log.verifiedCount()) + " verified · " + std::to_string(log.skippedCount()) +
                   " present · " + std::to_string(log.failedCount()) + " failed";
    meta.counts = {{"verified", log.verifiedCount()},
                   {"present", log.skippedCount()},
                   {"unverified", log.unverifiedCount()},
                   {"failed", log.failedCount()}};
    // A stopped or incomplete copy needs attention as much as one with failed files; a run
    // that planned no files, or copied without verifying, does not.
    meta.hasProblem = log.failedCount() > 0 || !log.isComplete();
    meta.wasStopped = log.wasCancelled;
    return fileRun(LogKind::transfer, at, project, std::move(meta), [&](const fs::path& folder, const std::string& stem) {
        TransferLogExporter::write(log, folder, stem);
    });
}

void LogArchive::setProject(const ArchivedLog& log, const std::optional<std::string>& project) const {
    fs::path metaPath = log.directory / kMetaFileName;
    std::string text = readWholeFile(metaPath, kMaxMetaBytes);
    nlohmann::ordered_json object;
    try {
        object = nlohmann::ordered_json::parse(text);
        LogMeta::fromJson(nlohmann::json::parse(text));
    } catch (const std::exception& e) {
        throw LogArchiveError(log.directory, e.what());
    }
    // Only "project" changes; keys this version does not know are kept.
    if (auto name = trimmedProject(project))
        object["project"] = *name;
    else
        object.erase("project");
    writeFileAtomically(metaPath, jsonText(object, 2));
}

std::vector<ArchivedLog> LogArchive::list() const {
    std::vector<ArchivedLog> logs;
    auto days = entryNames(baseDirectory_);
    if (!days) return logs;
    for (const auto& dayName : *days) {
        fs::path day = baseDirectory_ / dayName;
        struct stat st{};
        if (::lstat(day.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        auto runs = entryNames(day);
        if (!runs) continue;
        for (const auto& runName : *runs) {
            fs::path folder = day / runName;
            try {
                std::string text = readWholeFile(folder / kMetaFileName, kMaxMetaBytes);
                LogMeta meta = LogMeta::fromJson(nlohmann::json::parse(text));
                logs.push_back(archivedLog(meta, folder));
            } catch (const std::exception&) {
                // Stray files, partial runs and foreign meta files are not logs.
            }
        }
    }
    std::stable_sort(logs.begin(), logs.end(), [](const ArchivedLog& a, const ArchivedLog& b) { return a.date > b.date; });
    return logs;
}

void LogArchive::deleteLog(const ArchivedLog& log) const {
    std::error_code ec;
    fs::remove_all(log.directory, ec);
    if (ec) throw FileWriteError(log.directory, ec.value());
}

}  // namespace tessaline
