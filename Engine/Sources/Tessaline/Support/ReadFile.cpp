#include "Tessaline/Support/ReadFile.hpp"

#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/UniqueFd.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaline {

namespace {

constexpr const char* notRegularText = "it is not a regular file";

void requireRegular(const std::filesystem::path& path, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) throw FileReadError(path, EISDIR);
    if (!S_ISREG(st.st_mode)) throw FileReadError(path, EINVAL, notRegularText);
}

}  // namespace

namespace {

// The rest of readWholeFile once `fd` is open: checked as a regular file on the descriptor,
// then read to its end.
std::string readOpened(const UniqueFd& fd, const std::filesystem::path& path, int64_t maxBytes) {
    if (!fd) throw FileReadError(path, errno);
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0) throw FileReadError(path, errno);
    requireRegular(path, st);
    if (st.st_size > maxBytes) throw FileReadError(path, EFBIG);
    std::string bytes;
    if (st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw FileReadError(path, errno);
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<size_t>(got));
        if (static_cast<int64_t>(bytes.size()) > maxBytes) throw FileReadError(path, EFBIG);
    }
    return bytes;
}

}  // namespace

std::string readWholeFile(const std::filesystem::path& path, int64_t maxBytes) {
    // A FIFO would block the open until a writer comes, a device may never end: look first.
    struct stat before{};
    if (::stat(path.c_str(), &before) != 0) throw FileReadError(path, errno);
    requireRegular(path, before);
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    return readOpened(fd, path, maxBytes);
}

std::string readWholeFileAt(int folderFd, const std::string& name, const std::filesystem::path& shownPath,
                            int64_t maxBytes) {
    struct stat before{};
    if (::fstatat(folderFd, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0) throw FileReadError(shownPath, errno);
    requireRegular(shownPath, before);
    UniqueFd fd(::openat(folderFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
    if (!fd && errno == ELOOP) throw FileReadError(shownPath, EINVAL, notRegularText);
    return readOpened(fd, shownPath, maxBytes);
}

}  // namespace tessaline
