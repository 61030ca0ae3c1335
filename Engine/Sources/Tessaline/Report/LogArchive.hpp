#pragma once
// The dated on-disk archive of finished scans and copy runs: one folder per run,
// "<base>/<yyyy-MM-dd>/<verify|transfer>-<HHmmss>/", holding the run's exports and a
// "meta.json" for listing. A plain value over a base folder; no shared state, no locks.
// Every operation blocks on file I/O; callers run them on a background thread. Several
// archive operations may run at once: run folders are created exclusively.

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
    // blank means none. Throws the first file error; what was written stays, unlisted.
    ArchivedLog archive(const VerificationReport& report, const std::optional<std::string>& project,
                        EpochSeconds at) const;
    // Files a copy run: "<stem>.csv", ".json", ".mhl", ".pdf" and "meta.json". As above.
    ArchivedLog archive(const TransferLog& log, const std::optional<std::string>& project,
                        EpochSeconds at) const;

    // Re-files a log under a job (trimmed; blank or none removes the "project" key). Only
    // that key changes; the file is replaced atomically. Throws FileReadError,
    // FileWriteError or LogArchiveError; on failure the file stays as it was.
    void setProject(const ArchivedLog& log, const std::optional<std::string>& project) const;

    // Every run of the archive, newest first (stable for equal dates). Never throws:
    // unreadable, foreign or partial items are skipped.
    std::vector<ArchivedLog> list() const;

    // Removes the run folder with everything in it. Throws FileWriteError.
    void deleteLog(const ArchivedLog& log) const;

    // The shared filing steps, for the two archive() operations: makes the run folder
    // (exclusively; a clash takes "-2", "-3" ...), lets `writeExports` write the files
    // under the stem, completes `meta` (kind, date, primary file, project) and writes
    // "meta.json" atomically.
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

}  // namespace tessaline
