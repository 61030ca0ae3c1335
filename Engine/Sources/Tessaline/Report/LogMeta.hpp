#pragma once
// The content of a log folder's "meta.json": what the Logs list shows of one archived run
// without opening its exports. Plain value; safe on any thread.

#include "Tessaline/Report/LogKind.hpp"
#include "Tessaline/Support/DateText.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace tessaline {

struct LogMeta {
    LogKind kind = LogKind::verify;
    EpochSeconds date = 0;  // when the run was archived, whole seconds
    std::string title;
    std::string subtitle;
    std::string summary;
    std::map<std::string, int64_t> counts;
    bool hasProblem = false;
    // A copy the user stopped before it handled every file; the key "wasStopped" is written
    // only when true, so other logs read as before.
    bool wasStopped = false;
    std::string primaryFileName;         // always "<stem>.pdf"
    std::optional<std::string> project;  // the job; the key is left out when there is none

    // Keys in declaration order (not sorted), the date as UTC ISO-8601 without fractions.
    nlohmann::ordered_json toJson() const;
    // Strict reading by key: all but "wasStopped" and "project" required with their JSON
    // types, a known kind, a whole-second ISO-8601 date; "wasStopped" absent means false;
    // "project" absent or null means none; unknown keys ignored. Throws
    // std::invalid_argument naming the fault.
    static LogMeta fromJson(const nlohmann::json& object);

    friend bool operator==(const LogMeta&, const LogMeta&) = default;
};

}  // namespace tessaline
