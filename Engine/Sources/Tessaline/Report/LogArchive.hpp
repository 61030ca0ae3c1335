#pragma once
// The dated on-disk archive of finished scans and copy runs: one folder per run,
// "<base>/<yyyy-MM-dd>/<verify|transfer>-<HHmmss>/", holding the run's exports and a
// "meta.json" for listing. A plain value over a base folder; no shared state, no locks.
// Every operation blocks on file I/O; callers run them on a background thread. Several
// archive operations may run at once: run folders are created exclusively.
// The archive is walked, made and changed without following links: the base folder is
// opened from its parent's handle, day and run folders from theirs, all with O_NOFOLLOW, and
// the files are written through the run folder's handle. A link planted where a day or run
// folder should be (by anyone who can write to a shared logs drive) is never entered.

#include "Tessaline/Report/ArchivedLog.hpp"
#include "Tessaline/Report/LogKind.hpp"
#include "Tessaline/Report/LogMeta.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessaline {

struct VerificationReport;
struct TransferLog;

class LogArchive {
public:
    using Kind = LogKind;

    // Touches no file.
    explicit LogArchive(std::filesystem::path baseDirectory);

    // "<data folder>/Logs" (the per-user 0700 temporary folder when there is no data folder).
    static LogArchive defaultArchive();

    const std::filesystem::path& baseDirectory() const { return baseDirectory_; }

    // Files a scan: "<stem>.csv", ".json", ".pdf" and "meta.json". `project` is trimmed;
    // blank means none. Throws the first file error (LogFolderError when the base folder is
    // a link); the run folder is then removed again. A day folder's name taken by
    // a link or a file gives the day's first free "<day>-N" real folder.
    ArchivedLog archive(const VerificationReport& report, const std::optional<std::string>& project,
                        EpochSeconds at) const;
    // Files a copy run: "<stem>.csv", ".json", ".mhl", ".pdf" and "meta.json". As above.
    ArchivedLog archive(const TransferLog& log, const std::optional<std::string>& project,
                        EpochSeconds at) const;

    // Re-files a log under a job (trimmed; blank or none removes the "project" key). Only
    // that key changes; the file is replaced atomically. Throws FileReadError,
    // FileWriteError, LogArchiveError, or LogChangedError when the run folder is no longer
    // the one listed; on failure the file stays as it was.
    void setProject(const ArchivedLog& log, const std::optional<std::string>& project) const;

    // Every run of the archive, newest first (stable for equal dates), each with the device
    // and inode of its folder. Never throws: unreadable, foreign or partial items and links
    // are skipped. A log lists without a primary file unless its primary file name is a
    // single name ending in ".pdf" that stands in the run folder as a regular file.
    std::vector<ArchivedLog> list() const;

    // Removes the run folder with everything in it, through handles from its day folder, and
    // only when it is the folder that was listed (same device and inode): its files through
    // its own handle, then its name while that still names it (a folder put in its place
    // meanwhile is kept). Throws LogChangedError when it is not the listed folder (nothing is
    // removed), LogMountError when the run folder is another mount or holds one (what is
    // on the run folder's own drive is removed), FileWriteError when something else could
    // not be removed.
    void deleteLog(const ArchivedLog& log) const;

    // The shared filing steps, for the two archive() operations: makes the run folder
    // (exclusively; a clash takes "-2", "-3" ...), lets `writeExports` write the files
    // under the stem into `folder` (a path that reaches the run folder's handle), completes
    // `meta` (kind, date, primary file, project) and writes "meta.json" atomically. On any
    // failure the run folder is removed and the error thrown.
    ArchivedLog fileRun(LogKind kind, EpochSeconds at, const std::optional<std::string>& project, LogMeta meta,
                        const std::function<void(const std::filesystem::path& folder, const std::string& stem)>&
                            writeExports) const;

private:
    std::filesystem::path baseDirectory_;
};

// A "meta.json" that cannot be decoded. what(): "The log at <folder> can't be read: <detail>."
class LogArchiveError : public std::runtime_error {
public:
    LogArchiveError(const std::filesystem::path& folder, const std::string& detail);
};

// A listed log whose run folder is gone or was replaced (by a link, or by another folder)
// since it was listed. what(): "The log at <folder> has changed since it was listed, so it
// was left as it is."
class LogChangedError : public std::runtime_error {
public:
    explicit LogChangedError(const std::filesystem::path& folder);
};

// A log whose run folder is another mount or holds one: nothing on another mount is ever
// removed, so the log stays (in part). what(): "The log at <folder> can't be deleted
// completely: another drive is mounted inside it, and nothing on another drive is removed."
class LogMountError : public std::runtime_error {
public:
    explicit LogMountError(const std::filesystem::path& folder);
};

// The archive's base folder is a link. what(): "Logs can't be saved in <folder>: it is a
// link, and logs are never filed through one."
class LogFolderError : public std::runtime_error {
public:
    explicit LogFolderError(const std::filesystem::path& folder);
};

}  // namespace tessaline
