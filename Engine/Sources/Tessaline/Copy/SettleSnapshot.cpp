#include "Tessaline/Copy/SettleSnapshot.hpp"

#include "Tessaline/Support/UniqueFd.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <vector>

namespace tessaline {

namespace {

// Reads one folder whole and closes it before the caller descends, so a deep tree holds
// one open folder at a time. The root may be reached through a link (a mount path given by
// the user); folders below it never are.
void readFolder(const std::string& folder, bool isRoot, std::vector<std::string>& pending,
                std::map<std::string, SettleSnapshot::Entry>& entries) {
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot ? 0 : O_NOFOLLOW);
    UniqueFd fd(::open(folder.c_str(), flags));
    if (!fd) return;
    DIR* dir = ::fdopendir(fd.get());
    if (!dir) return;
    fd.release();  // owned by `dir` now
    int dirFd = ::dirfd(dir);
    std::string prefix = folder.ends_with('/') ? folder : folder + "/";
    while (dirent* item = ::readdir(dir)) {
        if (item->d_name[0] == '.') continue;  // hidden, ".", ".."
        struct stat st{};
        if (::fstatat(dirFd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        std::string path = prefix + item->d_name;
        if (S_ISDIR(st.st_mode)) {
            pending.push_back(std::move(path));
        } else if (S_ISREG(st.st_mode)) {
            entries[std::move(path)] = {st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
        }
    }
    ::closedir(dir);
}

}  // namespace

SettleSnapshot SettleSnapshot::of(const std::filesystem::path& root) {
    SettleSnapshot snapshot;
    std::vector<std::string> pending;
    readFolder(root.native(), true, pending, snapshot.entries_);
    while (!pending.empty()) {
        std::string folder = std::move(pending.back());
        pending.pop_back();
        readFolder(folder, false, pending, snapshot.entries_);
    }
    return snapshot;
}

}  // namespace tessaline
