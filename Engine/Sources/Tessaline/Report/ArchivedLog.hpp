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
    std::filesystem::path primaryFile;       // directory / primaryFileName, existing or not
    std::vector<std::filesystem::path> files;  // every entry but "meta.json", sorted by path bytes
    std::optional<std::string> project;

    // "yyyy-MM-dd" of `date` in the system's time zone: the by-date grouping key.
    std::string dayKey() const;
    // The job, or "Unfiled".
    std::string projectKey() const;

    friend bool operator==(const ArchivedLog&, const ArchivedLog&) = default;
};

}  // namespace tessaline
