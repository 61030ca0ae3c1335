#pragma once
// One archived scan or copy run as the Logs list shows it: the meta file's values plus the
// run folder and its files. Plain value; safe on any thread.

#include "Tessaline/Report/LogKind.hpp"
#include "Tessaline/Support/DateText.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tessaline {

struct ArchivedLog {
    std::string id;  // the run folder's path
    LogKind kind = LogKind::verify;
    EpochSeconds date = 0;
    std::string title;
    std::string subtitle;
    std::string summary;
    std::map<std::string, int64_t> counts;
    bool hasProblem = false;
    bool wasStopped = false;  // a copy the user stopped before it handled every file
    std::filesystem::path directory;
    // directory / primaryFileName, existing or not; empty when the meta file names no single
    // entry of the folder (a path, ".", "..").
    std::filesystem::path primaryFile;
    std::vector<std::filesystem::path> files;  // every entry but "meta.json", sorted by path bytes
    std::optional<std::string> project;
    // The run folder's identity when it was listed or filed: only that folder is changed or
    // removed through this value.
    uint64_t folderDevice = 0;
    uint64_t folderInode = 0;

    // "yyyy-MM-dd" of `date` in the system's time zone: the by-date grouping key.
    std::string dayKey() const;
    // The job, or "Unfiled".
    std::string projectKey() const;

    friend bool operator==(const ArchivedLog&, const ArchivedLog&) = default;
};

}  // namespace tessaline
