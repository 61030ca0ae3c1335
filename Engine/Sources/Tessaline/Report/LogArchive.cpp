#include "Tessaline/Report/LogArchive.hpp"

#include "Tessaline/CardPrep/CardTree.hpp"
#include "Tessaline/Report/ReportExporter.hpp"
#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Support/CountText.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"
#include "Tessaline/Transfer/TransferLogExporter.hpp"
#include "Tessaline/Volumes/MountTable.hpp"
#include "Tessaline/Support/DataFolder.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/JsonText.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/ReadFile.hpp"
#include "Tessaline/Support/TextCase.hpp"
#include "Tessaline/Support/UniqueFd.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cmath>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

constexpr const char* kMetaFileName = "meta.json";
constexpr int kMaxClashSuffix = 1000;
// A meta file is a few hundred bytes; anything far larger is not one and is never read whole.
constexpr int64_t kMaxMetaBytes = int64_t{1} << 20;

// Opens the folder `name` inside the open folder `parentFd`, never through a link at `name`;
// an invalid descriptor (errno set) when it is a link, a file or missing.
UniqueFd openFolderAt(int parentFd, const std::string& name) {
    return UniqueFd(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// Opens the archive's base folder: its parent by path (the chosen logs folder may itself be
// reached through links), the base from the parent's handle without following a link.
UniqueFd openBase(const fs::path& base) {
    const fs::path normal = normalizedPath(base);
    UniqueFd parent(::open(normal.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent) return parent;
    return openFolderAt(parent.get(), lastComponent(normal));
}

// The path by which the writers reach the folder open at `fd`: the very folder, whatever
// its path leads to now.
fs::path handlePath(int fd) { return fs::path("/proc/self/fd") / std::to_string(fd); }

// Runs `write` against the folder open at `fd`; a write error names the file under
// `shownFolder`, the folder's path as the user knows it.
template <typename Write>
void writeThroughHandle(int fd, const fs::path& shownFolder, Write&& write) {
    try {
        write(handlePath(fd));
    } catch (const FileWriteError& error) {
        throw FileWriteError(shownFolder / error.path().filename(), error.error());
    }
}

std::optional<std::string> trimmedProject(const std::optional<std::string>& project) {
    if (!project) return std::nullopt;
    std::string trimmed = trimmedWhitespace(*project);
    if (trimmed.empty()) return std::nullopt;
    return trimmed;
}

// A primary file is one entry of the run folder: no path, not "." or "..".
bool isSingleName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// The primary file is opened by the desktop, which launches whatever its type says: only a
// PDF standing in the run folder as a regular file (not a link, a launcher or a script that
// a meta file on a shared drive names) is one.
bool isPrimaryPdf(int folderFd, const std::string& name) {
    constexpr std::string_view extension = ".pdf";
    if (!isSingleName(name) || name.size() <= extension.size() ||
        asciiLowercased(std::string_view(name).substr(name.size() - extension.size())) != extension)
        return false;
    struct stat st{};
    return ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

ArchivedLog archivedLog(const LogMeta& meta, const fs::path& folder, int folderFd) {
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
    if (isPrimaryPdf(folderFd, meta.primaryFileName)) log.primaryFile = folder / meta.primaryFileName;
    log.project = meta.project;
    struct stat st{};
    if (::fstat(folderFd, &st) == 0) {
        log.folderDevice = st.st_dev;
        log.folderInode = st.st_ino;
    }
    if (auto names = CardTree(folderFd, st.st_dev).topLevelNames()) {
        for (const auto& name : *names)
            if (name != kMetaFileName) log.files.push_back(folder / name);
        std::sort(log.files.begin(), log.files.end(),
                  [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
    }
    return log;
}

// An open run folder of the archive, reached from its base without following links.
struct RunFolder {
    UniqueFd day;
    UniqueFd run;
    dev_t dayDevice = 0;
    std::string name;
};

// Opens the listed log's run folder through handles from its base (the grandparent of its
// folder) and checks it is the folder that was listed. Throws LogChangedError otherwise.
RunFolder openListedRun(const ArchivedLog& log) {
    const fs::path folder = normalizedPath(log.directory);
    RunFolder opened;
    opened.name = lastComponent(folder);
    UniqueFd base = openBase(folder.parent_path().parent_path());
    if (base) opened.day = openFolderAt(base.get(), lastComponent(folder.parent_path()));
    if (opened.day) opened.run = openFolderAt(opened.day.get(), opened.name);
    struct stat day{};
    struct stat run{};
    if (!opened.run || ::fstat(opened.day.get(), &day) != 0 || ::fstat(opened.run.get(), &run) != 0 ||
        run.st_dev != log.folderDevice || run.st_ino != log.folderInode)
        throw LogChangedError(log.directory);
    opened.dayDevice = day.st_dev;
    return opened;
}

}  // namespace

LogArchiveError::LogArchiveError(const fs::path& folder, const std::string& detail)
    : std::runtime_error("The log at " + toDisplayUtf8(folder) + " can't be read: " + detail + ".") {}

LogChangedError::LogChangedError(const fs::path& folder)
    : std::runtime_error("The log at " + toDisplayUtf8(folder) +
                         " has changed since it was listed, so it was left as it is.") {}

LogMountError::LogMountError(const fs::path& folder)
    : std::runtime_error("The log at " + toDisplayUtf8(folder) +
                         " can't be deleted completely: another drive is mounted inside it, and nothing on another "
                         "drive is removed.") {}

LogFolderError::LogFolderError(const fs::path& folder)
    : std::runtime_error("Logs can't be saved in " + toDisplayUtf8(folder) +
                         ": it is a link, and logs are never filed through one.") {}

LogArchive::LogArchive(fs::path baseDirectory) : baseDirectory_(std::move(baseDirectory)) {}

LogArchive LogArchive::defaultArchive() { return LogArchive(dataFilePath("Logs")); }

namespace {

// The folder `name` in the open folder `parentFd`, made when missing; never a link.
// Invalid (errno ELOOP or ENOTDIR) when a link or a file stands at the name.
UniqueFd makeFolderAt(int parentFd, const std::string& name) {
    if (::mkdirat(parentFd, name.c_str(), 0755) != 0 && errno != EEXIST) return UniqueFd();
    return openFolderAt(parentFd, name);
}

bool isNotAFolder(int error) { return error == ELOOP || error == ENOTDIR; }

// Makes "<base>/<day>/<kind>-<HHmmss>" exclusively, through handles. A day name taken by a
// link or a file is never entered: the day's first free "<day>-N" real folder is used. A
// clash of run names (two runs in one local second, or the repeated hour of a
// daylight-saving fall-back) takes the next "-N" name.
struct MadeRun {
    RunFolder folder;
    fs::path path;
};

MadeRun makeRunFolder(const fs::path& baseDirectory, LogKind kind, EpochSeconds at) {
    const fs::path base = normalizedPath(baseDirectory);
    createFolders(base.parent_path(), 0755);
    UniqueFd parent(::open(base.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent) throw FileWriteError(base.parent_path(), errno);
    UniqueFd baseFd = makeFolderAt(parent.get(), lastComponent(base));
    if (!baseFd) {
        const int error = errno;
        struct stat st{};
        if (::fstatat(parent.get(), lastComponent(base).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            throw LogFolderError(base);
        throw FileWriteError(base, error);
    }

    MadeRun made;
    const std::string dayStamp = localDayStamp(at);
    for (int attempt = 1; attempt <= kMaxClashSuffix && !made.folder.day; ++attempt) {
        std::string day = attempt == 1 ? dayStamp : dayStamp + "-" + std::to_string(attempt);
        made.folder.day = makeFolderAt(baseFd.get(), day);
        if (made.folder.day) made.path = base / day;
        else if (!isNotAFolder(errno)) throw FileWriteError(base / day, errno);
    }
    if (!made.folder.day) throw FileWriteError(base / dayStamp, EEXIST);
    struct stat day{};
    if (::fstat(made.folder.day.get(), &day) != 0) throw FileWriteError(made.path, errno);
    made.folder.dayDevice = day.st_dev;

    const std::string stem = std::string(logKindText(kind)) + "-" + localTimeStamp(at);
    for (int attempt = 1; attempt <= kMaxClashSuffix; ++attempt) {
        std::string name = attempt == 1 ? stem : stem + "-" + std::to_string(attempt);
        if (::mkdirat(made.folder.day.get(), name.c_str(), 0755) == 0) {
            made.folder.run = openFolderAt(made.folder.day.get(), name);
            if (!made.folder.run) throw FileWriteError(made.path / name, errno);
            made.folder.name = name;
            made.path /= name;
            return made;
        }
        if (errno != EEXIST) throw FileWriteError(made.path / name, errno);
    }
    throw FileWriteError(made.path / stem, EEXIST);
}

// Removes a run folder that could not be completed, when it is still the one made.
// Removes an open run folder with everything in it. The files go through the folder's own
// handle, never through its name, which may lead to another folder by now; a run folder on
// another drive than its day folder is never entered. The emptied folder's name goes last,
// and only while it still names that folder: one renamed meanwhile is left empty where it
// is now, and what took its name is kept. 0, or the error that left something in place.
int removeRun(const RunFolder& folder) {
    struct statx listed{};
    if (::statx(folder.run.get(), "", AT_EMPTY_PATH, STATX_INO, &listed) != 0) return errno;
    const bool mountRoot = (listed.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
                           (listed.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    if (mountRoot || makedev(listed.stx_dev_major, listed.stx_dev_minor) != folder.dayDevice) return EXDEV;
    const CardTree run(folder.run.get(), folder.dayDevice);
    errno = 0;
    auto names = run.topLevelNames();
    bool complete = names.has_value();
    if (names)
        for (const auto& name : *names)
            if (!run.remove(name).complete) complete = false;
    if (!complete) return errno != 0 ? errno : EIO;
    struct stat now{};
    if (::fstatat(folder.day.get(), folder.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_ino != listed.stx_ino || now.st_dev != folder.dayDevice)
        return 0;
    if (::unlinkat(folder.day.get(), folder.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) return errno;
    return 0;
}

// Whether a mount lies at or below `folder` (the removal refuses to enter one).
bool holdsMount(const fs::path& folder) {
    char buffer[PATH_MAX];
    const fs::path real = ::realpath(folder.c_str(), buffer) ? fs::path(buffer) : normalizedPath(folder);
    const MountTable table = MountTable::current();
    return std::any_of(table.entries().begin(), table.entries().end(),
                       [&](const MountEntry& entry) { return isSameOrBelow(entry.mountPoint, real); });
}

// Removes a run folder that could not be completed.
void removeUnfinished(const RunFolder& folder) { removeRun(folder); }

}  // namespace

ArchivedLog LogArchive::fileRun(LogKind kind, EpochSeconds at, const std::optional<std::string>& project,
                                LogMeta meta,
                                const std::function<void(const fs::path&, const std::string&)>& writeExports) const {
    // Whole seconds, so the returned log equals what list() reads back.
    at = std::floor(at);
    MadeRun made = makeRunFolder(baseDirectory_, kind, at);
    const int runFd = made.folder.run.get();
    const std::string& stem = made.folder.name;
    try {
        writeThroughHandle(runFd, made.path, [&](const fs::path& folder) { writeExports(folder, stem); });
        meta.kind = kind;
        meta.date = at;
        meta.primaryFileName = stem + ".pdf";
        meta.project = trimmedProject(project);
        writeThroughHandle(runFd, made.path, [&](const fs::path& folder) {
            writeFileAtomically(folder / kMetaFileName, jsonText(meta.toJson(), 2));
        });
    } catch (...) {
        // A run folder without its meta file is never listed: nothing half-made stays.
        removeUnfinished(made.folder);
        throw;
    }
    return archivedLog(meta, made.path, runFd);
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
    meta.summary = std::to_string(confirmed) + " confirmed · " + std::to_string(missing) + " missing";
    if (duplicates > 0) meta.summary += " · " + countText(static_cast<int64_t>(duplicates), "duplicate", "duplicates");
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
    const int notProven = static_cast<int>(log.cardFilesNotProven().size());
    if (notProven > 0) meta.summary += " · " + std::to_string(notProven) + " not proven on card";
    meta.counts = {{"verified", log.verifiedCount()},
                   {"present", log.skippedCount()},
                   {"unverified", log.unverifiedCount()},
                   {"failed", log.failedCount()},
                   {"notProvenOnCard", notProven}};
    // A stopped or incomplete copy needs attention as much as one with failed files, and so
    // does one that leaves files of the card unproven; a run that planned no files, or
    // copied without verifying, does not.
    meta.hasProblem = log.failedCount() > 0 || !log.isComplete() || notProven > 0;
    meta.wasStopped = log.wasCancelled;
    return fileRun(LogKind::transfer, at, project, std::move(meta), [&](const fs::path& folder, const std::string& stem) {
        TransferLogExporter::write(log, folder, stem);
    });
}

void LogArchive::setProject(const ArchivedLog& log, const std::optional<std::string>& project) const {
    RunFolder folder = openListedRun(log);
    // Read from the run folder's handle, never through a link in the meta file's place: what
    // it leads to is no part of the archive and is never copied into it.
    const std::string text = readWholeFileAt(folder.run.get(), kMetaFileName, log.directory / kMetaFileName, kMaxMetaBytes);
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
    writeThroughHandle(folder.run.get(), log.directory, [&](const fs::path& handle) {
        writeFileAtomically(handle / kMetaFileName, jsonText(object, 2));
    });
}

std::vector<ArchivedLog> LogArchive::list() const {
    std::vector<ArchivedLog> logs;
    const UniqueFd base = openBase(baseDirectory_);
    if (!base) return logs;
    auto days = CardTree(base.get(), 0).topLevelNames();
    if (!days) return logs;
    for (const auto& dayName : *days) {
        // Links and files where a day or a run should be are not entered.
        const UniqueFd day = openFolderAt(base.get(), dayName);
        if (!day) continue;
        auto runs = CardTree(day.get(), 0).topLevelNames();
        if (!runs) continue;
        for (const auto& runName : *runs) {
            const UniqueFd run = openFolderAt(day.get(), runName);
            if (!run) continue;
            try {
                std::string text =
                    readWholeFileAt(run.get(), kMetaFileName, baseDirectory_ / dayName / runName / kMetaFileName, kMaxMetaBytes);
                LogMeta meta = LogMeta::fromJson(nlohmann::json::parse(text));
                logs.push_back(archivedLog(meta, baseDirectory_ / dayName / runName, run.get()));
            } catch (const std::exception&) {
                // Stray files, partial runs, foreign meta files and links in a meta file's
                // place are not logs.
            }
        }
    }
    std::stable_sort(logs.begin(), logs.end(), [](const ArchivedLog& a, const ArchivedLog& b) { return a.date > b.date; });
    return logs;
}

void LogArchive::deleteLog(const ArchivedLog& log) const {
    const int error = removeRun(openListedRun(log));
    if (error == 0) return;
    if (error == EXDEV || holdsMount(log.directory)) throw LogMountError(log.directory);
    throw FileWriteError(log.directory, error);
}

}  // namespace tessaline
