#include "Tessaline/Transfer/TransferLog.hpp"

#include "Tessaline/Support/CountText.hpp"
#include "Tessaline/Support/NumberText.hpp"
#include "Tessaline/Support/PathText.hpp"

#include <algorithm>
#include <cmath>

namespace tessaline {

using Kind = CopyEngine::FileStatus::Kind;

namespace {

int countOf(const std::vector<CopyEngine::FileOutcome>& outcomes, std::initializer_list<Kind> kinds) {
    return static_cast<int>(std::count_if(outcomes.begin(), outcomes.end(), [&](const auto& outcome) {
        return std::find(kinds.begin(), kinds.end(), outcome.status.kind) != kinds.end();
    }));
}

std::string rule() {
    std::string line;
    for (int i = 0; i < 41; ++i) line += "─";
    return line;
}

}  // namespace

TransferLog TransferLog::fromRun(std::filesystem::path sourceURL, std::filesystem::path destinationURL,
                                 bool preserveStructure, EpochSeconds startedAt, EpochSeconds finishedAt,
                                 const CopyEngine::CopyRun& run) {
    TransferLog log;
    log.sourceURL = std::move(sourceURL);
    log.destinationURL = std::move(destinationURL);
    log.preserveStructure = preserveStructure;
    log.startedAt = startedAt;
    log.finishedAt = finishedAt;
    log.outcomes = run.outcomes;
    // A stop the engine noticed only after every planned file was handled (it reports the
    // copies of a batch it had already proven and placed) cut nothing short. A stop during
    // the settle wait planned nothing and handled nothing: stopped.
    const bool everyPlannedFileHandled =
        run.plannedFileCount > 0 && static_cast<int>(run.outcomes.size()) >= run.plannedFileCount;
    log.wasCancelled = run.wasCancelled && !everyPlannedFileHandled;
    log.plannedFileCount = run.plannedFileCount;
    log.plannedBytes = run.plannedBytes;
    // A path the run has no outcome for, at or below it, was not on the card when the copy
    // began: added. (A folder that became unreadable holds files the run handled.)
    std::vector<std::string_view> handled;
    for (const auto& outcome : run.outcomes) handled.push_back(outcome.relativePath);
    std::sort(handled.begin(), handled.end());
    auto wasThere = [&](const std::string& path) {
        auto at = std::lower_bound(handled.begin(), handled.end(), std::string_view(path));
        return at != handled.end() && (*at == path || (at->size() > path.size() && at->starts_with(path) &&
                                                       (*at)[path.size()] == '/'));
    };
    for (const std::string& path : run.changedOnCard)
        log.cardFileNotes.push_back({CardFileNote::Kind::changedOnCard, path,
                                     wasThere(path) ? CardFileNote::changedText : CardFileNote::addedText});
    for (CardFileNote& note : CardFileNote::storedUnderOtherNames(run.outcomes, log.destinationURL, preserveStructure))
        log.cardFileNotes.push_back(std::move(note));
    return log;
}

std::vector<CardFileNote> TransferLog::cardFilesNotProven() const {
    std::vector<CardFileNote> notes;
    for (const auto& note : cardFileNotes)
        if (note.keepsCardUnsafe()) notes.push_back(note);
    return notes;
}

int TransferLog::verifiedCount() const { return countOf(outcomes, {Kind::copiedVerified}); }
int TransferLog::skippedCount() const { return countOf(outcomes, {Kind::skippedAlreadyPresent}); }
int TransferLog::failedCount() const { return countOf(outcomes, {Kind::failed, Kind::verificationFailed}); }
int TransferLog::unverifiedCount() const { return countOf(outcomes, {Kind::copiedNotVerified}); }

int TransferLog::unhandledCount() const {
    if (!plannedFileCount) return 0;
    return std::max(0, *plannedFileCount - fileCount());
}

int64_t TransferLog::totalBytes() const {
    int64_t sum = 0;
    for (const auto& outcome : outcomes) sum += outcome.byteSize;
    return sum;
}

int64_t TransferLog::verifiedBytes() const {
    int64_t sum = 0;
    for (const auto& outcome : outcomes)
        if (outcome.status.isVerifiedPass()) sum += outcome.byteSize;
    return sum;
}

bool TransferLog::isComplete() const {
    return !wasCancelled && plannedFileCount && *plannedFileCount == fileCount();
}

bool TransferLog::allVerified() const {
    return isComplete() && fileCount() > 0 && cardFilesNotProven().empty() &&
           std::all_of(outcomes.begin(), outcomes.end(), [](const auto& o) { return o.status.isVerifiedPass(); });
}

std::optional<double> TransferLog::bytesPerSecond() const {
    double seconds = duration();
    if (!(seconds > 0.001)) return std::nullopt;
    return static_cast<double>(totalBytes()) / seconds;
}

std::vector<CopyEngine::FileOutcome> TransferLog::failures() const {
    std::vector<CopyEngine::FileOutcome> list;
    for (const auto& outcome : outcomes)
        if (outcome.status.kind == Kind::failed || outcome.status.kind == Kind::verificationFailed)
            list.push_back(outcome);
    return list;
}

TransferLog::TransferStanding TransferLog::standing() const {
    if (wasCancelled) return TransferStanding::cancelledIncomplete(fileCount(), plannedFileCount.value_or(fileCount()));
    if (int failed = failedCount(); failed > 0) return TransferStanding::hasFailures(failed, fileCount());
    if (!plannedFileCount || *plannedFileCount != fileCount())
        return TransferStanding::incomplete(fileCount(), plannedFileCount);
    if (const auto unproven = cardFilesNotProven(); !unproven.empty())
        return TransferStanding::cardNotProven(static_cast<int>(unproven.size()), fileCount());
    if (*plannedFileCount == 0) return TransferStanding::noFiles();
    if (int unverified = unverifiedCount(); unverified > 0)
        return TransferStanding::hasUnverified(unverified, fileCount());
    return TransferStanding::verified(fileCount());
}

std::string TransferLog::summary() const {
    const std::string count = std::to_string(fileCount());
    std::vector<std::string> lines = {
        "Brindlecove — Verified Transfer Log",
        "Started   : " + formatIso8601(startedAt),
        "Finished  : " + formatIso8601(finishedAt),
        "Source    : " + toDisplayUtf8(sourceURL),
        "Destination: " + toDisplayUtf8(destinationURL),
        std::string("Layout    : ") + (preserveStructure ? "preserved (mirror card structure)" : "flattened"),
        "",
        rule(),
    };
    const bool everyOutcomeVerified =
        std::all_of(outcomes.begin(), outcomes.end(), [](const auto& o) { return o.status.isVerifiedPass(); });
    const std::vector<CardFileNote> unproven = cardFilesNotProven();
    if (wasCancelled) {
        lines.push_back("⚠  STOPPED EARLY — " + partOf(fileCount(), plannedFileCount.value_or(fileCount()), "file", "files") +
                        " handled.");
        lines.push_back("   This transfer is INCOMPLETE. Do NOT wipe the card — " +
                        countText(unhandledCount(), "file was", "files were") + " never copied.");
    } else if (!plannedFileCount && failedCount() == 0) {
        lines.push_back("⚠  INCOMPLETE — this run didn't record how many files it planned to copy, so it can't be "
                        "called finished. Do NOT wipe the card.");
    } else if (plannedFileCount && *plannedFileCount == fileCount() && fileCount() > 0 && everyOutcomeVerified &&
               unproven.empty()) {
        lines.push_back("✓  " + allOf(fileCount(), "file", "files") +
                        " copied and verified byte-for-byte. Safe to reuse the card.");
    } else if (failedCount() > 0) {
        lines.push_back("⚠  " + partOf(failedCount(), fileCount(), "file", "files") +
                        " FAILED — do NOT wipe the card until resolved:");
        for (const auto& failure : failures()) {
            std::string reason = failure.status.reason.value_or(
                failure.status.kind == Kind::verificationFailed ? "checksum mismatch" : "");
            lines.push_back("   ✗  " + singleLineText(failure.relativePath) + "  — " + reason);
        }
    } else if (fileCount() != plannedFileCount.value_or(-1)) {
        lines.push_back("⚠  INCOMPLETE — only " + partOf(fileCount(), plannedFileCount.value_or(0), "file", "files") +
                        " handled. Do NOT wipe the card.");
    } else if (!unproven.empty()) {
        lines.push_back("⚠  " + partOf(verifiedCount() + skippedCount(), fileCount(), "file", "files") +
                        " copied and verified byte-for-byte — NOT safe to reuse the card yet.");
    } else {
        lines.push_back(std::to_string(verifiedCount()) + " verified · " + std::to_string(skippedCount()) +
                        " already present · " + std::to_string(unverifiedCount()) + " copied unverified");
    }
    if (!unproven.empty()) {
        lines.push_back("⚠  " + CardFileNote::unprovenHeading(unproven) + " — do NOT wipe the card:");
        for (const auto& note : unproven)
            lines.push_back("   ✗  " + singleLineText(note.relativePath) + "  — " + note.reason);
    }
    for (const auto& note : cardFileNotes)
        if (!note.keepsCardUnsafe()) lines.push_back("   ·  " + singleLineText(note.relativePath) + "  — " + note.reason);
    lines.push_back("");
    lines.push_back(rule());
    lines.push_back("Files      : " + count);
    lines.push_back("Verified   : " + std::to_string(verifiedCount()));
    lines.push_back("Already on dest: " + std::to_string(skippedCount()));
    lines.push_back("Unverified : " + std::to_string(unverifiedCount()));
    lines.push_back("Failed     : " + std::to_string(failedCount()));
    lines.push_back("Total size : " + formatFileSize(totalBytes()));
    lines.push_back("Duration   : " + fixedText(duration(), 1) + "s");
    if (auto rate = bytesPerSecond()) {
        // Clamped before the cast: a double beyond int64 would be undefined behaviour.
        double clamped = std::min(std::floor(*rate), 9.0e18);
        lines.push_back("Throughput : " + formatFileSize(static_cast<int64_t>(clamped)) + "/s");
    }
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) text += '\n';
        text += lines[i];
    }
    return text;
}

}  // namespace tessaline
