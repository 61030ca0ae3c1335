#pragma once
// The record of one verified copy run and the verdicts derived from it. A run is safe only
// when the number of files it planned is known, every planned file was handled, every
// handled file was copied and proven or proven already present, and no file of the card is
// left unproven by it (cardFileNotes): a rescue that left files of its scan unproven, a
// card that changed while it was copied, or a copy stored where a scan does not count it
// leaves the card unsafe to reuse. A plain value: every
// derived value is computed on demand; safe to read from any thread.

#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Transfer/CardFileNote.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tessaline {

struct TransferLog {
    // A run's verdict. Precedence: stopped, failures, incomplete, files of the card not
    // proven, no files, unverified, verified.
    struct TransferStanding {
        enum class Kind {
            verified,
            cancelledIncomplete,
            incomplete,
            hasFailures,
            hasUnverified,
            noFiles,
            cardNotProven,  // count: card files left unproven (notes); total: files handled
        };
        Kind kind = Kind::noFiles;
        // verified: files; cancelledIncomplete and incomplete: handled; hasFailures and
        // hasUnverified: count.
        int count = 0;
        // cancelledIncomplete: planned; incomplete: planned (absent when unrecorded);
        // hasFailures and hasUnverified: total.
        std::optional<int> total;

        static TransferStanding verified(int fileCount) { return {Kind::verified, fileCount, std::nullopt}; }
        static TransferStanding cancelledIncomplete(int handled, int planned) {
            return {Kind::cancelledIncomplete, handled, planned};
        }
        static TransferStanding incomplete(int handled, std::optional<int> planned) {
            return {Kind::incomplete, handled, planned};
        }
        static TransferStanding hasFailures(int count, int total) { return {Kind::hasFailures, count, total}; }
        static TransferStanding hasUnverified(int count, int total) { return {Kind::hasUnverified, count, total}; }
        static TransferStanding noFiles() { return {Kind::noFiles, 0, std::nullopt}; }
        static TransferStanding cardNotProven(int count, int total) { return {Kind::cardNotProven, count, total}; }
        bool operator==(const TransferStanding&) const = default;
    };

    std::filesystem::path sourceURL;
    std::filesystem::path destinationURL;
    bool preserveStructure = true;
    EpochSeconds startedAt = 0;
    EpochSeconds finishedAt = 0;
    std::vector<CopyEngine::FileOutcome> outcomes;
    bool wasCancelled = false;
    std::optional<int> plannedFileCount;
    std::optional<int64_t> plannedBytes;
    // Files of the card the verdict names beside the outcomes, in the order found: what
    // changed on the card during the copy, copies stored under another name, and (for a
    // rescue) the scan's files that nothing proved. Empty in logs of runs that had none.
    std::vector<CardFileNote> cardFileNotes;

    // The log of a copy run: its outcomes, cancellation and planned numbers (all present),
    // with the notes of what changed on the card and of copies stored under another name.
    // A run marked cancelled that still handled every planned file is not cancelled here.
    static TransferLog fromRun(std::filesystem::path sourceURL, std::filesystem::path destinationURL,
                               bool preserveStructure, EpochSeconds startedAt, EpochSeconds finishedAt,
                               const CopyEngine::CopyRun& run);

    int fileCount() const { return static_cast<int>(outcomes.size()); }
    int verifiedCount() const;    // copiedVerified only
    int skippedCount() const;     // skippedAlreadyPresent
    int failedCount() const;      // failed or verificationFailed
    int unverifiedCount() const;  // copiedNotVerified
    int unhandledCount() const;   // planned − handled, never below 0; 0 when unrecorded
    int64_t totalBytes() const;
    int64_t verifiedBytes() const;  // copiedVerified and skippedAlreadyPresent
    // Every planned file handled and proven, and no file of the card left unproven: the
    // card may be reused.
    bool allVerified() const;
    // The notes that keep the card unsafe to reuse, in order.
    std::vector<CardFileNote> cardFilesNotProven() const;
    bool isComplete() const;
    double duration() const { return finishedAt - startedAt; }
    std::optional<double> bytesPerSecond() const;  // absent for runs of 0.001 s or less
    std::vector<CopyEngine::FileOutcome> failures() const;
    TransferStanding standing() const;
    // The plain-text summary, lines joined by "\n" with none after the last.
    std::string summary() const;

    bool operator==(const TransferLog&) const = default;
};

}  // namespace tessaline
