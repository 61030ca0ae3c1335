#include "Tessaline/CardPrep/CardTree.hpp"

#include "Tessaline/Support/UniqueFd.hpp"

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

int64_t folderSize(int fd, dev_t device, int depth) {
    if (depth > maxDepth) return 0;
    auto names = namesIn(fd);
    if (!names) return 0;
    int64_t total = 0;
    for (const auto& name : *names) {
        struct stat st{};
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(st.st_mode)) {
            total += st.st_size;
        } else if (S_ISDIR(st.st_mode)) {
            UniqueFd child = openFolderOnDevice(fd, name, device);
            if (child) total += folderSize(child.get(), device, depth + 1);
        }
    }
    return total;
}

// Removes `name` inside `parentFd`; false when anything stayed.
bool removeEntry(int parentFd, const std::string& name, dev_t device, int depth) {
    struct stat st{};
    if (fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlinkat(parentFd, name.c_str(), 0) == 0 || errno == ENOENT;
    if (depth > maxDepth) return false;
    UniqueFd child = openFolderOnDevice(parentFd, name, device);
    if (!child) return false;
    auto names = namesIn(child.get());
    if (!names) return false;
    bool complete = true;
    for (const auto& entry : *names)
        if (!removeEntry(child.get(), entry, device, depth + 1)) complete = false;
    child.reset();
    if (!complete) return false;
    return unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

}  // namespace

std::optional<std::vector<std::string>> CardTree::topLevelNames() const { return namesIn(rootFd_); }

int64_t CardTree::sizeOf(const std::string& name) const {
    struct stat st{};
    if (fstatat(rootFd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    if (S_ISREG(st.st_mode)) return st.st_size;
    if (!S_ISDIR(st.st_mode)) return 0;
    UniqueFd child = openFolderOnDevice(rootFd_, name, device_);
    return child ? folderSize(child.get(), device_, 1) : 0;
}

bool CardTree::remove(const std::string& name) const { return removeEntry(rootFd_, name, device_, 0); }

bool CardTree::createFolders(const std::string& relative) const {
    UniqueFd current(fcntl(rootFd_, F_DUPFD_CLOEXEC, 0));
    if (!current) return false;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t slash = relative.find('/', start);
        std::string component = relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        start = slash == std::string::npos ? relative.size() + 1 : slash + 1;
        if (component.empty() || component == ".") continue;
        if (component == "..") return false;
        if (mkdirat(current.get(), component.c_str(), 0777) != 0 && errno != EEXIST) return false;
        UniqueFd next = openFolderOnDevice(current.get(), component, device_);
        if (!next) return false;
        current = std::move(next);
    }
    return true;
}

}  // namespace tessaline
