#include "Tessaline/Copy/DestinationPlanner.hpp"

#include "Tessaline/CardPrep/CardFileComparison.hpp"
#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Copy/InodePin.hpp"
#include "Tessaline/Copy/SeamFd.hpp"
#include "Tessaline/Copy/SourceIdentity.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
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

// The source as the comparison reads it: no link at the last component (a link is never
// taken for its target's backup), nothing that blocks on open.
constexpr int sourceOpenFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;

bool isRegular(int fd) {
    struct stat st{};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// The source as it is now, when it is still the file whose bytes were compared (`before`,
// held open as `fd`, gave `digest`); nullopt when it changed. The open file must be
// unchanged and its path must lead to it. Where the card numbers files afresh
// (CardFileComparison::keepsInodeNumbers), a path whose file differs from it only by its
// number is judged by its bytes, as the erase judges a card file: read again, unchanged
// throughout, with the digest compared. Throws ChecksumCancelledError when `isStopped`
// answers true during that read.
std::optional<SourceIdentity> stillTheSource(CopyFileIO& io, const std::filesystem::path& source, int fd,
                                             const SourceIdentity& before, const std::string& digest,
                                             const std::function<bool()>& isStopped) {
    if (SourceIdentity::ofDescriptor(fd) != before) return std::nullopt;
    const auto now = SourceIdentity::ofPath(source);
    if (!now) return std::nullopt;
    if (*now == before) return before;
    SourceIdentity renumbered = *now;
    renumbered.inode = before.inode;
    if (renumbered != before || CardFileComparison::keepsInodeNumbers(fd)) return std::nullopt;
    SeamFd again(io, io.open(source.c_str(), sourceOpenFlags));
    if (again.get() < 0 || SourceIdentity::ofDescriptor(again.get()) != now || !isRegular(again.get()))
        return std::nullopt;
    try {
        if (ChecksumEngine().hashOpen(again.get(), source, isStopped) != digest) return std::nullopt;
    } catch (const ChecksumCancelledError&) {
        throw;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (SourceIdentity::ofDescriptor(again.get()) != now || SourceIdentity::ofPath(source) != now) return std::nullopt;
    return now;
}

}  // namespace

std::string DestinationPlanner::suffixMakesNameTooLongText(const std::string& name, int attempt) {
    return "Couldn't create destination file: the name \u201C" + toDisplayUtf8(std::string_view(lastComponent(name))) +
           "\u201D is taken on the destination by a different file, and with \u201C_" + std::to_string(attempt) +
           "\u201D added it is too long for the destination's file system.";
}

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
    // Opened at the first comparison and held open through every one (see the header).
    SeamFd sourceFd;
    std::optional<SourceIdentity> sourceBefore;
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
            // Longer still with every further number: the name itself is what fails.
            if (errno == ENAMETOOLONG && attempt > 0) {
                DestinationPlan plan;
                plan.kind = DestinationPlan::Kind::unresolvable;
                plan.reason = suffixMakesNameTooLongText(base, attempt);
                return plan;
            }
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
        if (sourceFd.get() < 0) {
            sourceFd = SeamFd(io_, io_.open(source.c_str(), sourceOpenFlags));
            if (sourceFd.get() >= 0) sourceBefore = SourceIdentity::ofDescriptor(sourceFd.get());
            if (!sourceBefore || sourceBefore->size != sourceStat.st_size || !isRegular(sourceFd.get())) {
                sourceUnreadable = true;
                continue;
            }
        }
        // The source itself (a hard link, or the destination reached through another path).
        if (existing.st_dev == sourceStat.st_dev && existing.st_ino == sourceStat.st_ino) continue;
        if (existing.st_dev == sourceBefore->device && existing.st_ino == sourceBefore->inode) continue;
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
                sourceHash = ChecksumEngine().hashOpen(sourceFd.get(), source, isStopped_, readProgress(0));
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
        // A source rewritten or replaced while it was compared proves nothing about its bytes now.
        std::optional<SourceIdentity> sourceNow;
        try {
            sourceNow = stillTheSource(io_, source, sourceFd.get(), *sourceBefore, *sourceHash, isStopped_);
        } catch (const ChecksumCancelledError&) {
            return stopped();
        }
        if (!sourceNow) continue;

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
        plan.sourceIdentity = sourceNow;
        if (sourceNow == sourceBefore) plan.sourcePin = pinWhereRenumbered(sourceFd.get(), source.c_str());
        plan.attempt = attempt;
        return plan;
    }
    DestinationPlan plan;
    plan.kind = DestinationPlan::Kind::unresolvable;
    plan.reason = "Couldn't find a free name for " + toDisplayUtf8(std::string_view(lastComponent(source))) + " after 1000 attempts.";
    return plan;
}

}  // namespace tessaline
