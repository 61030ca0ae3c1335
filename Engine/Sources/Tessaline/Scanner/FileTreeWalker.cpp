#include "Tessaline/Scanner/FileTreeWalker.hpp"

#include "Tessaline/Scanner/ScanError.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/UniqueFd.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>

namespace tessaline {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

std::string joined(const std::string& folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    if (!folder.empty()) {
        path += folder;
        path += '/';
    }
    path += name;
    return path;
}

class Walk {
public:
    Walk(int rootFd, dev_t device, const FileTreeWalker::Options& options,
         const std::function<void(const FileTreeWalker::File&)>& onFile)
        : rootFd_(rootFd), device_(device), options_(options), onFile_(onFile) {}

    std::vector<std::string> run() {
        std::vector<std::string> folders{std::string()};
        while (!folders.empty()) {
            std::string folder = std::move(folders.back());
            folders.pop_back();
            read(folder, folders);
        }
        return std::move(unreadable_);
    }

private:
    // Opens a folder below the root when it is a real folder of the root's mount (not a link,
    // not another mount, not the excluded one); an invalid descriptor when it is to be left out.
    // No component of the path is followed through a link: a folder swapped for a link after
    // it was listed is never entered.
    UniqueFd open(const std::string& relative, bool& unreadable) const {
        if (relative.empty()) return UniqueFd(::dup(rootFd_));
        UniqueFd fd = openBelowRoot(relative);
        if (!fd) {
            // Gone, turned into a link or a file, or behind another mount since it was listed:
            // nothing of it is erased.
            unreadable = errno != ENOENT && errno != ENOTDIR && errno != ELOOP && errno != EXDEV;
            return fd;
        }
        struct statx sx {};
        if (::statx(fd.get(), "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO, &sx) != 0) {
            unreadable = true;
            return UniqueFd();
        }
        const dev_t device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
        if (isMountRoot(sx) || device != device_) return UniqueFd();
        if (options_.excluded && options_.excluded->first == device && options_.excluded->second == sx.stx_ino)
            return UniqueFd();
        return fd;
    }

    static bool isMountRoot(const struct statx& sx) {
        return (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    }

    // The folder `relative` below the root, resolved in one call where the kernel has openat2
    // (no link and no mount crossing anywhere on the way), else one component at a time from
    // each parent's handle, each a folder of the root's device that is not another mount.
    UniqueFd openBelowRoot(const std::string& relative) const {
        static std::atomic<bool> hasOpenat2{true};
        if (hasOpenat2.load(std::memory_order_relaxed)) {
            struct open_how how {};
            how.flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
            how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_XDEV | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
            long fd = -1;
            // EAGAIN: a rename elsewhere on the file system raced the lookup; asked again.
            for (int attempt = 0; attempt < 3; ++attempt) {
                fd = ::syscall(SYS_openat2, rootFd_, relative.c_str(), &how, sizeof how);
                if (fd >= 0 || errno != EAGAIN) break;
            }
            if (fd >= 0) return UniqueFd(static_cast<int>(fd));
            if (errno != ENOSYS && errno != EPERM) return UniqueFd();
            hasOpenat2.store(false, std::memory_order_relaxed);  // an old kernel, or a seccomp filter
        }
        UniqueFd current;
        size_t start = 0;
        for (;;) {
            const size_t end = relative.find('/', start);
            const std::string component = relative.substr(start, end == std::string::npos ? end : end - start);
            UniqueFd next(::openat(current ? current.get() : rootFd_, component.c_str(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!next) return next;
            struct statx sx {};
            if (::statx(next.get(), "", AT_EMPTY_PATH, STATX_TYPE, &sx) != 0) return UniqueFd();
            if (isMountRoot(sx) || makedev(sx.stx_dev_major, sx.stx_dev_minor) != device_) {
                errno = EXDEV;
                return UniqueFd();
            }
            current = std::move(next);
            if (end == std::string::npos) return current;
            start = end + 1;
        }
    }

    void read(const std::string& relative, std::vector<std::string>& folders) {
        bool unreadable = false;
        UniqueFd fd = open(relative, unreadable);
        if (!fd) {
            if (unreadable) unreadable_.push_back(relative);
            return;
        }
        if (relative.empty()) ::lseek(fd.get(), 0, SEEK_SET);
        UniqueDir dir(::fdopendir(fd.get()));
        if (!dir) {
            unreadable_.push_back(relative);
            return;
        }
        const int dirFd = fd.release();  // owned by `dir`
        for (;;) {
            errno = 0;
            struct dirent* entry = ::readdir(dir.get());
            if (!entry) {
                if (errno != 0) unreadable_.push_back(relative);
                return;
            }
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            const unsigned char type = entry->d_type;
            if (type == DT_DIR) {
                folders.push_back(joined(relative, name));
                continue;
            }
            if (type != DT_REG && type != DT_UNKNOWN) continue;  // links, devices, FIFOs, sockets
            if (type == DT_REG && options_.wantsName && !options_.wantsName(name)) continue;
            struct stat st {};
            if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone
            if (S_ISDIR(st.st_mode)) {
                folders.push_back(joined(relative, name));
                continue;
            }
            if (!S_ISREG(st.st_mode)) continue;
            if (type == DT_UNKNOWN && options_.wantsName && !options_.wantsName(name)) continue;
            const std::string path = joined(relative, name);
            onFile_(FileTreeWalker::File{path, name, st, dirFd});
        }
    }

    int rootFd_;
    dev_t device_;
    const FileTreeWalker::Options& options_;
    const std::function<void(const FileTreeWalker::File&)>& onFile_;
    std::vector<std::string> unreadable_;
};

}  // namespace

std::vector<std::string> FileTreeWalker::walk(const std::filesystem::path& root, const Options& options,
                                              const std::function<void(const File&)>& onFile) {
    UniqueFd rootFd(::open(withoutTrailingSlash(root.native()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!rootFd || ::fstat(rootFd.get(), &st) != 0) throw ScanError::cannotEnumerate(root);
    if (options.excluded && options.excluded->first == st.st_dev && options.excluded->second == st.st_ino) return {};
    return Walk(rootFd.get(), st.st_dev, options, onFile).run();
}

}  // namespace tessaline
