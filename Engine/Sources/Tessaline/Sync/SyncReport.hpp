#pragma once
// The history of sync runs read back for a time window, with its totals and the daily
// report text. Plain values; safe on any thread.

#include "Tessaline/Support/DateText.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

struct TransferLog;

struct SyncReport {
    // What started a run, stored as its text value.
    enum class Trigger { mount, scheduled, manual };
    static std::string_view triggerText(Trigger trigger);  // "mount", "scheduled", "manual"
    static std::optional<Trigger> triggerFromText(std::string_view text);

    // One recorded sync run.
    struct Run {
        Trigger triggeredBy = Trigger::manual;
        std::string sourcePath;       // the folder that was copied
        std::string destinationPath;  // the destination folder
        EpochSeconds at = 0;          // when the copy finished
        int fileCount = 0;            // outcomes handled
        int newFiles = 0;             // copied, verified or not
        int existingFiles = 0;        // already present and proven identical
        int failedFiles = 0;          // failed to copy or to verify
        int64_t bytesCopied = 0;      // the log's verified bytes (already present included)
        bool allVerified = false;     // complete, at least one file, every file proven

        // The record of a finished transfer log.
        static Run fromLog(Trigger trigger, const TransferLog& log);

        // Keys in declaration order, `at` as whole-second UTC ISO-8601.
        nlohmann::ordered_json toJson() const;
        // Strict: every key required with its type, a known trigger, a whole-second date,
        // counts from 0 to INT32_MAX and bytes not negative.
        // Throws std::invalid_argument.
        static Run fromJson(const nlohmann::json& object);

        friend bool operator==(const Run&, const Run&) = default;
    };

    EpochSeconds generatedAt = 0;
    EpochSeconds windowStart = 0;
    std::vector<Run> runs;  // history order, oldest first

    int cardsProcessed() const;  // distinct source paths
    int drivesSynced() const;    // distinct destination paths
    // Sums over the runs in 64 bits, held at the largest value of their type (a damaged
    // history never wraps them into negatives); a negative count in a run adds nothing.
    int newFiles() const;
    int existingFiles() const;
    int failedVerifications() const;  // the runs' failedFiles
    int64_t totalBytesCopied() const;
    // Runs not proven whole: stopped, incomplete, without files, or copied unverified.
    int unverifiedRuns() const;
    // No failed file and every run proven whole (true for a report without runs): a run
    // stopped half-way has no failure yet backs up only part of its card.
    bool allClean() const { return failedVerifications() == 0 && unverifiedRuns() == 0; }

    // The multi-line daily report, no final line break.
    std::string summary() const;
    // Pretty-printed JSON with sorted keys and ISO-8601 dates.
    std::string json() const;

    friend bool operator==(const SyncReport&, const SyncReport&) = default;
};

}  // namespace tessaline
