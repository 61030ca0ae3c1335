#include "Tessaline/Sync/SyncReport.hpp"

#include "Tessaline/Support/CountText.hpp"
#include "Tessaline/Support/JsonFields.hpp"
#include "Tessaline/Support/JsonText.hpp"
#include "Tessaline/Support/NumberText.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <set>
#include <stdexcept>

namespace tessaline {

namespace {

// A count or size of a stored run: never negative, and a count fits an int.
int64_t requiredAmount(const nlohmann::json& object, const char* key, int64_t limit) {
    int64_t value = requiredInteger(object, key);
    if (value < 0 || value > limit) throw std::invalid_argument(std::string("\"") + key + "\" is out of range");
    return value;
}

int requiredCount(const nlohmann::json& object, const char* key) {
    return static_cast<int>(requiredAmount(object, key, INT32_MAX));
}

// The sum of one field over the runs, in 64 bits and held at the largest value of `Total`:
// a damaged history with counts near the limit never wraps a total into a negative.
template <class Total, class Field>
Total saturatedSum(const std::vector<SyncReport::Run>& runs, Field SyncReport::Run::*field) {
    constexpr int64_t limit = std::numeric_limits<Total>::max();
    int64_t sum = 0;
    for (const auto& run : runs) {
        const int64_t value = std::max<int64_t>(run.*field, 0);
        sum = value > limit - sum ? limit : sum + value;
    }
    return static_cast<Total>(sum);
}

}  // namespace

std::string_view SyncReport::triggerText(Trigger trigger) {
    switch (trigger) {
    case Trigger::mount: return "mount";
    case Trigger::scheduled: return "scheduled";
    case Trigger::manual: return "manual";
    }
    return "manual";
}

std::optional<SyncReport::Trigger> SyncReport::triggerFromText(std::string_view text) {
    if (text == "mount") return Trigger::mount;
    if (text == "scheduled") return Trigger::scheduled;
    if (text == "manual") return Trigger::manual;
    return std::nullopt;
}

SyncReport::Run SyncReport::Run::fromLog(Trigger trigger, const TransferLog& log) {
    Run run;
    run.triggeredBy = trigger;
    run.sourcePath = log.sourceURL.string();
    run.destinationPath = log.destinationURL.string();
    run.at = log.finishedAt;
    run.fileCount = log.fileCount();
    run.newFiles = log.verifiedCount() + log.unverifiedCount();
    run.existingFiles = log.skippedCount();
    run.failedFiles = log.failedCount();
    // The log's verified bytes: already-present files included, unverified copies not.
    run.bytesCopied = log.verifiedBytes();
    run.allVerified = log.allVerified();
    return run;
}

nlohmann::ordered_json SyncReport::Run::toJson() const {
    nlohmann::ordered_json object;
    object["triggeredBy"] = std::string(triggerText(triggeredBy));
    object["sourcePath"] = sourcePath;
    object["destinationPath"] = destinationPath;
    object["at"] = formatIso8601(at);
    object["fileCount"] = fileCount;
    object["newFiles"] = newFiles;
    object["existingFiles"] = existingFiles;
    object["failedFiles"] = failedFiles;
    object["bytesCopied"] = bytesCopied;
    object["allVerified"] = allVerified;
    return object;
}

SyncReport::Run SyncReport::Run::fromJson(const nlohmann::json& object) {
    if (!object.is_object()) throw std::invalid_argument("a run is not a JSON object");
    Run run;
    auto trigger = triggerFromText(requiredString(object, "triggeredBy"));
    if (!trigger) throw std::invalid_argument("a run has an unknown trigger");
    run.triggeredBy = *trigger;
    run.sourcePath = requiredString(object, "sourcePath");
    run.destinationPath = requiredString(object, "destinationPath");
    auto at = parseIso8601WholeSeconds(requiredString(object, "at"));
    if (!at) throw std::invalid_argument("a run's \"at\" is not an ISO-8601 date");
    run.at = *at;
    run.fileCount = requiredCount(object, "fileCount");
    run.newFiles = requiredCount(object, "newFiles");
    run.existingFiles = requiredCount(object, "existingFiles");
    run.failedFiles = requiredCount(object, "failedFiles");
    run.bytesCopied = requiredAmount(object, "bytesCopied", INT64_MAX);
    run.allVerified = requiredBool(object, "allVerified");
    return run;
}

int SyncReport::cardsProcessed() const {
    std::set<std::string> distinct;
    for (const auto& run : runs) distinct.insert(run.sourcePath);
    return static_cast<int>(distinct.size());
}

int SyncReport::drivesSynced() const {
    std::set<std::string> distinct;
    for (const auto& run : runs) distinct.insert(run.destinationPath);
    return static_cast<int>(distinct.size());
}

int SyncReport::newFiles() const { return saturatedSum<int>(runs, &Run::newFiles); }

int SyncReport::existingFiles() const { return saturatedSum<int>(runs, &Run::existingFiles); }

int SyncReport::failedVerifications() const { return saturatedSum<int>(runs, &Run::failedFiles); }

int64_t SyncReport::totalBytesCopied() const { return saturatedSum<int64_t>(runs, &Run::bytesCopied); }

int SyncReport::unverifiedRuns() const {
    int count = 0;
    for (const auto& run : runs) count += run.allVerified ? 0 : 1;
    return count;
}

std::string SyncReport::summary() const {
    std::vector<std::string> lines;
    lines.push_back("Brindlecove — Daily Sync Report");
    lines.push_back("Window    : " + formatIso8601(windowStart) + " → " + formatIso8601(generatedAt));
    lines.push_back("");
    lines.push_back("Cards processed     : " + std::to_string(cardsProcessed()));
    lines.push_back("Drives synced       : " + std::to_string(drivesSynced()));
    lines.push_back("New files copied    : " + std::to_string(newFiles()));
    lines.push_back("Already present     : " + std::to_string(existingFiles()));
    lines.push_back("Failed verifications: " + std::to_string(failedVerifications()));
    lines.push_back("Bytes copied        : " + formatFileSize(totalBytesCopied()));
    lines.push_back("");
    if (failedVerifications() != 0)
        lines.push_back("⚠ " + countText(failedVerifications(), "verification failure", "verification failures") +
                        " — review the per-transfer logs.");
    else if (unverifiedRuns() != 0)
        lines.push_back("⚠ " + countText(unverifiedRuns(), "run", "runs") +
                        " not fully verified — stopped, incomplete or copied without verification; re-run " +
                        (unverifiedRuns() == 1 ? "it." : "them."));
    else
        lines.push_back("✓ All synced files verified.");
    if (!runs.empty()) {
        lines.push_back("");
        std::string rule;
        for (int i = 0; i < 41; ++i) rule += "─";
        lines.push_back(rule);
        for (const auto& run : runs) {
            lines.push_back(std::string(run.allVerified ? "✓" : "✗") + " [" + std::string(triggerText(run.triggeredBy)) +
                            "] " + formatIso8601(run.at) + "  " + countText(run.newFiles, "new file", "new files") + ", " +
                            std::to_string(run.existingFiles) + " present, " + std::to_string(run.failedFiles) +
                            " failed");
            lines.push_back("    " + run.sourcePath + " → " + run.destinationPath);
        }
    }
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += '\n';
        text += lines[i];
    }
    return text;
}

std::string SyncReport::json() const {
    nlohmann::json object;
    object["generatedAt"] = formatIso8601(generatedAt);
    object["windowStart"] = formatIso8601(windowStart);
    object["runs"] = nlohmann::json::array();
    for (const auto& run : runs) object["runs"].push_back(nlohmann::json(run.toJson()));
    return jsonText(object, 2);
}

}  // namespace tessaline
