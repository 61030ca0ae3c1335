#include "Tessaline/CardPrep/CardTree.hpp"

#include "Tessaline/CardPrep/CardFileComparison.hpp"
#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Support/UniqueFd.hpp"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaline {

namespace {

// Folders nested deeper than this below a top-level item are not entered: each level holds
// one descriptor open, and the soft limit of descriptors is 1024 on a desktop.
constexpr int maxDepth = 256;

// Owns a DIR stream.
struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// The entries of the folder open at `fd` ("." and ".." left out); nullopt on a read error.
std::optional<std::vector<std::string>> namesIn(int fd) {
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return std::nullopt;
    DirHandle dir(fdopendir(copy));
    if (!dir) {
        close(copy);
        return std::nullopt;
    }
    rewinddir(dir.get());
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        dirent* entry = readdir(dir.get());
        if (!entry) {
            if (errno != 0) return std::nullopt;
            break;
        }
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    return names;
}

// Opens the folder `name` inside `parentFd` for walking, only when it is a real folder on
// `device` and not the root of a mount; an invalid descriptor otherwise.
UniqueFd openFolderOnDevice(int parentFd, const std::string& name, dev_t device) {
    UniqueFd fd(openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return fd;
    struct statx sx{};
    if (statx(fd.get(), "", AT_EMPTY_PATH, STATX_TYPE, &sx) != 0) return UniqueFd();
    bool mountRoot = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    if (mountRoot || makedev(sx.stx_dev_major, sx.stx_dev_minor) != device) return UniqueFd();
    return fd;
}

// Whether a walk is to stop: asked before each entry is measured or removed, and remembered,
// so that every level of the walk returns at once.
struct StopCheck {
    const CardTree::StopTest& isStopped;
    bool stopped = false;

    bool now() {
        if (!stopped && isStopped && isStopped()) stopped = true;
        return stopped;
    }
};

void measureFolder(int fd, dev_t device, int depth, StopCheck& stop, CardTree::Measure& measure) {
    if (depth > maxDepth) return;
    auto names = namesIn(fd);
    if (!names) return;
    for (const auto& name : *names) {
        if (stop.now()) return;
        struct stat st{};
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(st.st_mode)) {
            measure.bytes += st.st_size;
            ++measure.files;
        } else if (S_ISDIR(st.st_mode)) {
            UniqueFd child = openFolderOnDevice(fd, name, device);
            if (child) measureFolder(child.get(), device, depth + 1, stop, measure);
        }
    }
}

// Removes `name` inside `parentFd`, counting what goes into `removal`; false when anything
// stayed (also after a stop).
bool removeEntry(int parentFd, const std::string& name, dev_t device, int depth, StopCheck& stop,
                 CardTree::Removal& removal, const CardTree::FileRemoved& removed) {
    if (stop.now()) return false;
    struct stat st{};
    if (fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) {
        if (unlinkat(parentFd, name.c_str(), 0) != 0) return errno == ENOENT;
        removal.removedAny = true;
        if (S_ISREG(st.st_mode)) {
            ++removal.filesRemoved;
            removal.bytesRemoved += st.st_size;
            if (removed) removed();
        }
        return true;
    }
    if (depth > maxDepth) return false;
    UniqueFd child = openFolderOnDevice(parentFd, name, device);
    if (!child) return false;
    auto names = namesIn(child.get());
    if (!names) return false;
    bool complete = true;
    for (const auto& entry : *names) {
        if (!removeEntry(child.get(), entry, device, depth + 1, stop, removal, removed)) complete = false;
        if (stop.stopped) return false;
    }
    child.reset();
    if (!complete || stop.now()) return false;
    if (unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0) return errno == ENOENT;
    removal.removedAny = true;
    return true;
}

// How often a folder that is not empty after its entries were judged is listed again.
constexpr int maxListings = 4;

// A removal that deletes only the vouched-for files: the records, the item's outcome so far,
// the stop, and the relative path of the entry at hand.
struct VouchedWalk {
    const std::vector<CardFileRecord>& vouched;
    dev_t device;
    CardFileComparison::Numbering numbering;  // identity, or renumbering where the card keeps no numbers
    CardTree::VouchedRemoval& outcome;
    StopCheck stop;
    std::string relative;
    const CardTree::FileRemoved& removed;

    const CardFileRecord* recordOf(const std::string& path) const {
        auto it = std::lower_bound(vouched.begin(), vouched.end(), path,
                                   [](const CardFileRecord& r, const std::string& p) { return r.relative < p; });
        return it != vouched.end() && it->relative == path ? &*it : nullptr;
    }
};

using Left = CardTree::VouchedRemoval::Left;

Left worse(Left a, Left b) { return static_cast<int>(a) > static_cast<int>(b) ? a : b; }

Left removeVouchedEntry(int parentFd, const std::string& name, VouchedWalk& walk, int depth);

// What the regular file `name` (status `st`) is to its record: the same file, or not. A file
// the card's file system renumbered is read through its folder's handle and vouched for when
// the open file has the record's size, times and digest throughout the read and the name still
// leads to it; `held` then keeps it open (its number cannot change while it is open) until
// the caller has deleted it. A stop during the read: not the same (the caller sees the stop).
bool isVouched(int parentFd, const std::string& name, const struct stat& st, const CardFileRecord& record,
               VouchedWalk& walk, UniqueFd& held) {
    using Likeness = CardFileComparison::Likeness;
    const Likeness likeness =
        CardFileComparison::likeness(record, CardFileSet::recordOf(walk.relative, st), walk.numbering);
    if (likeness != Likeness::renumbered) return likeness == Likeness::same;
    UniqueFd fd(openat(parentFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {}, closed {}, named {};
    if (!fd || fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != walk.device) return false;
    CardFileRecord read = CardFileSet::recordOf(walk.relative, opened);
    try {
        read.digest = ChecksumEngine().hashOpen(fd.get(), walk.relative, [&] { return walk.stop.now(); });
    } catch (const std::exception&) {
        return false;
    }
    if (fstat(fd.get(), &closed) != 0 || !CardFileSet::sameFile(read, CardFileSet::recordOf(walk.relative, closed), true))
        return false;
    if (CardFileComparison::likeness(record, read, walk.numbering) != Likeness::same) return false;
    if (fstatat(parentFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != opened.st_dev ||
        named.st_ino != opened.st_ino)
        return false;
    held = std::move(fd);
    return true;
}

// Removes the entries `names` of the open folder `fd`, the folder's relative path in
// walk.relative; the names of the entries left as kept are added to `kept`.
Left removeVouchedEntries(int fd, const std::vector<std::string>& names, VouchedWalk& walk, int depth,
                          std::vector<std::string>& kept) {
    Left left = Left::nothing;
    const size_t length = walk.relative.size();
    for (const auto& entry : names) {
        walk.relative.append("/").append(entry);
        const Left entryLeft = removeVouchedEntry(fd, entry, walk, depth + 1);
        walk.relative.resize(length);
        if (entryLeft == Left::kept) kept.push_back(entry);
        left = worse(left, entryLeft);
        if (walk.stop.stopped) break;
    }
    return left;
}

Left removeVouchedEntry(int parentFd, const std::string& name, VouchedWalk& walk, int depth) {
    if (walk.stop.now()) return Left::nothing;
    struct stat st{};
    if (fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Left::nothing : Left::failed;
    if (S_ISREG(st.st_mode)) {
        const CardFileRecord* record = walk.recordOf(walk.relative);
        UniqueFd held;
        const bool vouched = record && isVouched(parentFd, name, st, *record, walk, held);
        if (walk.stop.stopped) return Left::nothing;
        if (!vouched && !CardFileSet::isLitter(parentFd, name, st)) {
            walk.outcome.kept.push_back(walk.relative);
            return Left::kept;
        }
        if (unlinkat(parentFd, name.c_str(), 0) == 0) {
            walk.outcome.removedAny = true;
            ++walk.outcome.filesRemoved;
            walk.outcome.bytesRemoved += st.st_size;
            if (walk.removed) walk.removed();
            return Left::nothing;
        }
        return errno == ENOENT ? Left::nothing : Left::failed;
    }
    if (!S_ISDIR(st.st_mode)) {  // links, FIFOs, sockets, device nodes: no footage
        if (unlinkat(parentFd, name.c_str(), 0) == 0) walk.outcome.removedAny = true;
        else if (errno != ENOENT) return Left::failed;
        return Left::nothing;
    }
    if (depth > maxDepth) return Left::failed;
    UniqueFd child = openFolderOnDevice(parentFd, name, walk.device);
    if (!child) return Left::failed;
    auto names = namesIn(child.get());
    if (!names) return Left::failed;
    // Judged until the folder is gone or holds only what was kept: entries made meanwhile,
    // under new names or names already deleted, are judged like the first ones.
    std::vector<std::string> kept;
    Left left = Left::nothing;
    std::vector<std::string> pending = std::move(*names);
    for (int listing = 1;; ++listing) {
        left = worse(left, removeVouchedEntries(child.get(), pending, walk, depth, kept));
        if (left == Left::failed || walk.stop.stopped) return left;
        if (left == Left::nothing) {
            if (walk.stop.now()) return left;
            if (unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0) {
                walk.outcome.removedAny = true;
                return Left::nothing;
            }
            if (errno == ENOENT) return Left::nothing;
            if (errno != ENOTEMPTY && errno != EEXIST) return Left::failed;
        }
        auto again = namesIn(child.get());
        if (!again) return Left::failed;
        std::sort(kept.begin(), kept.end());
        pending.clear();
        for (auto& entry : *again)
            if (!std::binary_search(kept.begin(), kept.end(), entry)) pending.push_back(std::move(entry));
        if (pending.empty() && left == Left::kept) return left;
        if (listing == maxListings) return Left::failed;  // still changing: not all judged
    }
}

}  // namespace

std::optional<std::vector<std::string>> CardTree::topLevelNames() const { return namesIn(rootFd_); }

std::optional<int64_t> CardTree::sizeOf(const std::string& name, const StopTest& isStopped) const {
    const auto measured = measure(name, isStopped);
    if (!measured) return std::nullopt;
    return measured->bytes;
}

std::optional<CardTree::Measure> CardTree::measure(const std::string& name, const StopTest& isStopped) const {
    StopCheck stop{isStopped};
    if (stop.now()) return std::nullopt;
    struct stat st{};
    if (fstatat(rootFd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Measure{};
    if (S_ISREG(st.st_mode)) return Measure{st.st_size, 1};
    if (!S_ISDIR(st.st_mode)) return Measure{};
    Measure measured;
    if (UniqueFd child = openFolderOnDevice(rootFd_, name, device_)) measureFolder(child.get(), device_, 1, stop, measured);
    if (stop.stopped) return std::nullopt;
    return measured;
}

CardTree::Removal CardTree::remove(const std::string& name, const StopTest& isStopped, const FileRemoved& removed) const {
    Removal removal;
    StopCheck stop{isStopped};
    removal.complete = removeEntry(rootFd_, name, device_, 0, stop, removal, removed);
    removal.stopped = stop.stopped;
    return removal;
}

CardTree::VouchedRemoval CardTree::removeVouched(const std::string& name, const std::vector<CardFileRecord>& vouched,
                                                 const StopTest& isStopped, const FileRemoved& removed) const {
    VouchedRemoval outcome;
    const auto numbering = CardFileComparison::keepsInodeNumbers(rootFd_) ? CardFileComparison::Numbering::identity
                                                                          : CardFileComparison::Numbering::renumbering;
    VouchedWalk walk{vouched, device_, numbering, outcome, StopCheck{isStopped}, name, removed};
    outcome.left = removeVouchedEntry(rootFd_, name, walk, 0);
    outcome.stopped = walk.stop.stopped;
    return outcome;
}

bool CardTree::createFolders(const std::string& relative, bool* made) const {
    if (made) *made = false;
    UniqueFd current(fcntl(rootFd_, F_DUPFD_CLOEXEC, 0));
    if (!current) return false;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t slash = relative.find('/', start);
        std::string component = relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        start = slash == std::string::npos ? relative.size() + 1 : slash + 1;
        if (component.empty() || component == ".") continue;
        if (component == "..") return false;
        if (mkdirat(current.get(), component.c_str(), 0777) == 0) {
            if (made) *made = true;
        } else if (errno != EEXIST) {
            return false;
        }
        UniqueFd next = openFolderOnDevice(current.get(), component, device_);
        if (!next) return false;
        current = std::move(next);
    }
    return true;
}

}  // namespace tessaline
