#include "Tessaline/Copy/DestinationPlanner.hpp"

#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Copy/IdentityOpener.hpp"
#include "Tessaline/Copy/SourceIdentity.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <sys/stat.h>

#include <optional>

namespace tessaline {

DestinationPlanner::DestinationPlanner(CopyFileIO& io, std::filesystem::path root, const CopyEngine::Options& options,
                                       std::set<std::string>& usedFlatNames)
    : io_(io), root_(std::move(root)), options_(options), usedFlatNames_(usedFlatNames) {}

DestinationPlan DestinationPlanner::plan(const std::filesystem::path& source, const std::string& relativePath,
                                         int firstAttempt, std::optional<std::string> sourceHash) {
    const bool flat = !options_.preserveStructure;
    const std::string base = flat ? lastComponent(source) : relativePath;

    struct stat sourceStat{};
    const bool sourceKnown = ::stat(source.c_str(), &sourceStat) == 0 && S_ISREG(sourceStat.st_mode);
    const auto sourceBefore = SourceIdentity::ofPath(source);
    // The source is digested at most once per plan, however many same-sized names are taken.
    bool sourceUnreadable = false;

    for (int attempt = firstAttempt; attempt < maxAttempts; ++attempt) {
        std::string candidate = CopyEngine::suffixedRelativePath(base, attempt);
        std::string key = flat ? lowercased(candidate) : std::string();
        if (flat && usedFlatNames_.contains(key)) continue;
        std::filesystem::path url = root_ / candidate;

        struct stat existing{};
        if (::lstat(url.c_str(), &existing) != 0) {
            // Free as far as one can tell; the exclusive create has the last word.
            if (flat) usedFlatNames_.insert(key);
            DestinationPlan plan;
            plan.kind = DestinationPlan::Kind::copy;
            plan.url = std::move(url);
            plan.relativeName = std::move(candidate);
            plan.attempt = attempt;
            return plan;
        }
        if (!options_.skipIfDestinationVerifies || !sourceKnown || sourceUnreadable) continue;
        // A link, a folder, or the source itself (a hard link, or the destination reached
        // through another path) is never a backup.
        if (!S_ISREG(existing.st_mode)) continue;
        if (existing.st_dev == sourceStat.st_dev && existing.st_ino == sourceStat.st_ino) continue;
        if (existing.st_size != sourceStat.st_size) continue;

        if (!sourceHash) {
            try {
                ChecksumEngine sourceEngine(ChecksumEngine::defaultChunkSize,
                                            identityOpener(io_, sourceStat.st_dev, sourceStat.st_ino));
                sourceHash = sourceEngine.hash(source);
            } catch (const std::exception&) {
                sourceUnreadable = true;
                continue;
            }
        }
        std::string destinationHash;
        try {
            ChecksumEngine existingEngine(ChecksumEngine::defaultChunkSize,
                                          identityOpener(io_, existing.st_dev, existing.st_ino));
            destinationHash = existingEngine.hash(url);
        } catch (const std::exception&) {
            continue;
        }
        if (destinationHash != *sourceHash) continue;
        // A source rewritten while it was compared proves nothing about its bytes now.
        if (!sourceBefore || SourceIdentity::ofPath(source) != sourceBefore) continue;

        if (flat) usedFlatNames_.insert(key);
        DestinationPlan plan;
        plan.kind = DestinationPlan::Kind::skip;
        plan.url = std::move(url);
        plan.relativeName = std::move(candidate);
        plan.sourceHash = *sourceHash;
        plan.destinationHash = std::move(destinationHash);
        plan.attempt = attempt;
        return plan;
    }
    DestinationPlan plan;
    plan.kind = DestinationPlan::Kind::unresolvable;
    plan.reason = "Couldn't find a free name for " + toDisplayUtf8(std::string_view(lastComponent(source))) + " after 1000 attempts.";
    return plan;
}

}  // namespace tessaline
