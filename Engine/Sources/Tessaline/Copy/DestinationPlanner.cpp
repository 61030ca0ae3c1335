#include "Tessaline/Copy/DestinationPlanner.hpp"

#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Copy/IdentityOpener.hpp"
#include "Tessaline/Copy/SeamFd.hpp"
#include "Tessaline/Copy/SourceIdentity.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>

namespace tessaline {

namespace {

// The file at `relativeName` below `root`, opened from the root's handle one name at a time
// with no link followed at any step, so what is opened lies inside the destination tree and
// not wherever a link inside it points. -1 when any step fails or a name is "." or "..".
SeamFd openInsideRoot(CopyFileIO& io, const std::filesystem::path& root, const std::string& relativeName) {
    SeamFd folder(io, io.open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    size_t start = 0;
    while (folder.get() >= 0) {
        size_t end = relativeName.find('/', start);
        const bool last = end == std::string::npos;
        const std::string name = relativeName.substr(start, last ? std::string::npos : end - start);
        start = last ? relativeName.size() : end + 1;
        if (name.empty() && !last) continue;
        if (name.empty() || name == "." || name == "..") break;
        const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (last ? O_NOCTTY | O_NONBLOCK : O_DIRECTORY);
        SeamFd next(io, io.openat(folder.get(), name.c_str(), flags));
        if (last) return next;
        folder = std::move(next);
    }
    return SeamFd();
}

bool hasNonAscii(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// The name the drive stores the file found at `url` under, where a file system that folds
// case (exFAT folds every letter, not only ASCII ones) took `url`'s name for another: the
// entry of its folder that equals it with case ignored. Only names with non-ASCII letters are
// looked up; any other name is the stored one as a scan compares names (ASCII case ignored),
// and so is a name the folder listing shows as a scan would, or does not show at all. (The
// listing is matched by name: a FUSE file system may give one file another number under each
// name it is looked up by.)
std::string storedName(const std::filesystem::path& url) {
    const std::string asked = url.filename().native();
    if (!hasNonAscii(asked)) return asked;
    DIR* folder = ::opendir(url.parent_path().c_str());
    if (!folder) return asked;
    std::string stored = asked;
    const std::string askedKey = asciiLowercased(asked);
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (asciiLowercased(name) == askedKey) {
            stored = asked;  // the scan's own name
            break;
        }
        if (stored == asked && equalsIgnoringCase(name, asked)) stored = name;
    }
    ::closedir(folder);
    return stored;
}

}  // namespace

DestinationPlanner::DestinationPlanner(CopyFileIO& io, std::filesystem::path root, const CopyEngine::Options& options,
                                       std::set<std::string>& usedFlatNames, std::function<bool()> isStopped)
    : io_(io), root_(std::move(root)), options_(options), usedFlatNames_(usedFlatNames),
      isStopped_(std::move(isStopped)) {}

DestinationPlan DestinationPlanner::plan(const std::filesystem::path& source, const std::string& relativePath,
                                         const VolumePin& volume, int firstAttempt,
                                         std::optional<std::string> sourceHash) {
    const bool flat = !options_.preserveStructure;
    const std::string base = flat ? lastComponent(source) : relativePath;

    struct stat sourceStat{};
    const bool sourceKnown = ::stat(source.c_str(), &sourceStat) == 0 && S_ISREG(sourceStat.st_mode);
    const auto sourceBefore = SourceIdentity::ofPath(source);
    // The source is digested at most once per plan, however many same-sized names are taken.
    bool sourceUnreadable = false;
    auto stopped = [] {
        DestinationPlan plan;
        plan.kind = DestinationPlan::Kind::stopped;
        return plan;
    };

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
        // A link, a folder, a device or a file of another size is never this file's backup.
        if (!S_ISREG(existing.st_mode) || existing.st_size != sourceStat.st_size) continue;
        // Only a file inside the destination tree on the destination volume can be: not one
        // reached through a link (to another drive, or anywhere else), not one on another file
        // system mounted inside the tree. The checks above are made again on the file opened.
        SeamFd found = openInsideRoot(io_, root_, candidate);
        if (found.get() < 0 || ::fstat(found.get(), &existing) != 0 || !volume.holds(found.get())) continue;
        if (!S_ISREG(existing.st_mode) || existing.st_size != sourceStat.st_size) continue;
        // The source itself (a hard link, or the destination reached through another path).
        if (existing.st_dev == sourceStat.st_dev && existing.st_ino == sourceStat.st_ino) continue;
        const int64_t fileBytes = static_cast<int64_t>(existing.st_size);
        const int64_t toRead = (sourceHash ? 0 : fileBytes) + fileBytes;
        if (onComparing_) onComparing_(0, toRead);
        auto readProgress = [&](int64_t before) {
            return [this, before, toRead](int64_t done, int64_t) {
                if (onComparing_) onComparing_(before + done, toRead);
            };
        };

        if (!sourceHash) {
            try {
                ChecksumEngine sourceEngine(ChecksumEngine::defaultChunkSize,
                                            identityOpener(io_, sourceStat.st_dev, sourceStat.st_ino));
                sourceHash = sourceEngine.hash(source, false, isStopped_, readProgress(0));
            } catch (const ChecksumCancelledError&) {
                return stopped();
            } catch (const std::exception&) {
                sourceUnreadable = true;
                continue;
            }
        }
        // Digested from the very file opened and checked above, never from what its path
        // leads to by then.
        std::string destinationHash;
        try {
            const int foundFd = found.get();
            ChecksumEngine existingEngine(ChecksumEngine::defaultChunkSize, [foundFd](const std::filesystem::path&, int) {
                return ::fcntl(foundFd, F_DUPFD_CLOEXEC, 0);
            });
            destinationHash = existingEngine.hash(url, false, isStopped_, readProgress(toRead - fileBytes));
        } catch (const ChecksumCancelledError&) {
            return stopped();
        } catch (const std::exception&) {
            continue;
        }
        if (destinationHash != *sourceHash) continue;
        // A source rewritten while it was compared proves nothing about its bytes now.
        if (!sourceBefore || SourceIdentity::ofPath(source) != sourceBefore) continue;

        if (flat) usedFlatNames_.insert(key);
        DestinationPlan plan;
        plan.kind = DestinationPlan::Kind::skip;
        // Reported under the name it is stored as: a name the drive folds onto another that a
        // scan tells apart is a copy under another name (CardFileNote::storedUnderOtherNames).
        url.replace_filename(storedName(url));
        plan.url = std::move(url);
        plan.relativeName = std::move(candidate);
        plan.sourceHash = *sourceHash;
        plan.destinationHash = std::move(destinationHash);
        plan.sourceIdentity = sourceBefore;
        plan.attempt = attempt;
        return plan;
    }
    DestinationPlan plan;
    plan.kind = DestinationPlan::Kind::unresolvable;
    plan.reason = "Couldn't find a free name for " + toDisplayUtf8(std::string_view(lastComponent(source))) + " after 1000 attempts.";
    return plan;
}

}  // namespace tessaline
