#include "Tessaline/Copy/WrittenCopy.hpp"

#include "Tessaline/Support/NoReplaceRename.hpp"
#include "Tessaline/Support/FileErrors.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/random.h>
#include <sys/stat.h>

namespace tessaline {

namespace {

// The stem of a temporary name: at most this many bytes of the final name, cut at a UTF-8
// character boundary, so that ".<stem>.brindlecove-<16 hex>.part" stays far below the
// 255-byte (and 255 UTF-16 unit) name limits.
constexpr size_t temporaryStemBytes = 96;

uint64_t randomNumber() {
    uint64_t value = 0;
    if (::getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) return value;
    std::random_device device;
    return (uint64_t{device()} << 32) ^ device();
}

}  // namespace

WrittenCopy::WrittenCopy(CopyFileIO& io, int fd, SeamFd folder, std::filesystem::path temporary, dev_t device,
                         ino_t inode)
    : io_(io), fd_(fd), folder_(std::move(folder)), path_(std::move(temporary)), device_(device), inode_(inode),
      pin_(pinInode(folder_.get(), path_.filename().c_str(), device, inode)) {}

WrittenCopy::~WrittenCopy() {
    if (!placed_ && !discarded_) discard();
    closeQuietly();
}

bool WrittenCopy::flushUnsupported(int error) { return error == EINVAL || error == ENOTSUP || error == EROFS; }

void WrittenCopy::closeQuietly() {
    if (fd_ >= 0) io_.close(fd_);
    fd_ = -1;
}

void WrittenCopy::discard() {
    closeQuietly();
    if (placed_ || discarded_) return;
    discarded_ = true;
    // Through the folder it was meant for (which a pulled drive keeps reachable), else by
    // its path (a file created after the folder's path came to lead elsewhere).
    auto isThisCopy = [&](const struct stat& st) { return st.st_dev == device_ && st.st_ino == inode_; };
    const std::string name = path_.filename().native();
    struct stat now{};
    if (::fstatat(folder_.get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && isThisCopy(now))
        io_.unlinkat(folder_.get(), name.c_str());
    else if (::lstat(path_.c_str(), &now) == 0 && isThisCopy(now))
        io_.unlink(path_.c_str());
}

std::optional<std::string> WrittenCopy::flush() {
    auto failRemoving = [&](int error) {
        discard();
        return std::optional<std::string>(errnoText(error));
    };
    if (io_.fsync(fd_) != 0 && !flushUnsupported(errno)) return failRemoving(errno);
    struct stat written{};
    if (::fstat(fd_, &written) == 0) {
        writtenSize_ = written.st_size;
        writtenModified_ = written.st_mtim;
    }
    // Clean now: the read-back goes past the cache, so these pages only crowd out others.
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
    int fd = fd_;
    fd_ = -1;
    if (io_.close(fd) != 0) return failRemoving(errno);
    return std::nullopt;
}

bool WrittenCopy::isInItsFolder() const {
    struct stat now{};
    return ::fstatat(folder_.get(), path_.filename().c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
           now.st_dev == device_ && now.st_ino == inode_;
}

bool WrittenCopy::withdraw() {
    if (!isInItsFolder()) return true;
    if (io_.unlinkat(folder_.get(), path_.filename().c_str()) != 0) return false;
    flushFolder();
    return true;
}

int WrittenCopy::place(const std::filesystem::path& finalName) {
    if (int error = renameNoReplace(io_, path_, finalName)) return error;
    path_ = finalName;
    placed_ = true;
    return 0;
}

std::filesystem::path WrittenCopy::temporaryName(const std::filesystem::path& finalName) {
    std::string stem = finalName.filename().native();
    if (stem.size() > temporaryStemBytes) {
        size_t cut = temporaryStemBytes;
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
        stem.resize(cut);
    }
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".brindlecove-%016llx.part", static_cast<unsigned long long>(randomNumber()));
    return finalName.parent_path() / ("." + stem + suffix);
}

std::optional<std::string> WrittenCopy::flushFolder() {
    if (io_.fsync(folder_.get()) != 0 && !flushUnsupported(errno)) return errnoText(errno);
    return std::nullopt;
}

}  // namespace tessaline
