#include "Tessaline/Copy/StreamCopier.hpp"

#include "Tessaline/Checksum/XXHash64.hpp"
#include "Tessaline/Support/FileErrors.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace tessaline {

namespace {

// Writeback is started every this many bytes and the window before it is waited for and
// dropped from the page cache. Without it a large clip piles up to dirty_ratio of RAM and
// the final fsync waits for all of it.
constexpr int64_t writebackWindow = 64 * 1024 * 1024;

// Closes a descriptor through the seam on every path; the result is ignored.
class SeamFd {
public:
    SeamFd(CopyFileIO& io, int fd) : io_(io), fd_(fd) {}
    ~SeamFd() { reset(); }
    SeamFd(const SeamFd&) = delete;
    SeamFd& operator=(const SeamFd&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) io_.close(fd_);
        fd_ = -1;
    }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    CopyFileIO& io_;
    int fd_;
};

// The file-system type of the mount holding device `device`, from /proc/self/mountinfo.
std::string mountType(dev_t device) {
    std::ifstream table("/proc/self/mountinfo");
    const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string id, parent, numbers;
        fields >> id >> parent >> numbers;
        if (numbers != wanted) continue;
        size_t dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        std::istringstream rest(line.substr(dash + 3));
        std::string type;
        rest >> type;
        return type;
    }
    return {};
}

// Whether an fsync of a newly created file also makes its directory entry durable. ext3/4
// commit journal transactions in order and the create sits in one at or before the file's
// last (without a journal ext4 syncs the parent of a new inode itself); XFS forces the log
// up to the inode's last change, which covers the create; btrfs logs new names on fsync.
// The ext2 driver does none of this, and FAT and exFAT keep names in folder blocks.
bool nameDurableWithFile(int fd, dev_t device) {
    struct statfs info{};
    if (::fstatfs(fd, &info) != 0) return false;
    switch (static_cast<unsigned long>(info.f_type)) {
        case 0x58465342UL:  // XFS
        case 0x9123683EUL:  // btrfs
            return true;
        case 0xEF53UL: {    // ext2, ext3 or ext4: only the mount table tells them apart
            std::string type = mountType(device);
            return type == "ext4" || type == "ext3";
        }
        default:
            return false;
    }
}

int openSource(CopyFileIO& io, const std::filesystem::path& source) {
    // O_NOATIME keeps a card's access times unchanged; only the owner (or root) may ask for it.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = io.open(source.c_str(), flags | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = io.open(source.c_str(), flags);
    return fd;
}

}  // namespace

const char* StreamCopier::cannotCreateText = "Couldn't create destination file.";

struct StreamCopier::Buffer {
    explicit Buffer(size_t size) : bytes(static_cast<std::byte*>(std::aligned_alloc(4096, size))) {}
    ~Buffer() { std::free(bytes); }
    std::byte* bytes;
};

StreamCopier::StreamCopier(CopyFileIO& io, int64_t chunkSize) : io_(io), chunkSize_(static_cast<size_t>(chunkSize)) {
    size_t rounded = (chunkSize_ + 4095) / 4096 * 4096;
    buffer_ = std::make_unique<Buffer>(rounded);
    if (!buffer_->bytes) throw std::bad_alloc();
}

StreamCopier::~StreamCopier() = default;

StreamCopyResult StreamCopier::write(const std::filesystem::path& source, const std::filesystem::path& destination,
                                    const std::function<void(int64_t)>& onProgress) {
    StreamCopyResult result;
    auto fail = [&](std::string reason) {
        result.status = StreamCopyResult::Status::failed;
        result.failure = std::move(reason);
        return std::move(result);
    };

    SeamFd in(io_, openSource(io_, source));
    if (in.get() < 0) return fail(errnoText(errno));
    struct stat sourceStat{};
    if (::fstat(in.get(), &sourceStat) != 0) return fail(errnoText(errno));
    // A FIFO or device would block or never end; the scanner lists regular files only,
    // but the file may have been replaced since.
    if (!S_ISREG(sourceStat.st_mode)) return fail("The source is no longer a regular file.");
    ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    // Exclusive create: an existing name (file, folder or dangling link) is never opened,
    // truncated or followed. Another run may have taken it since planning.
    SeamFd out(io_, io_.open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (out.get() < 0) {
        if (errno == EEXIST) {
            result.status = StreamCopyResult::Status::nameTaken;
            return result;
        }
        return fail(cannotCreateText);
    }
    struct stat created{};
    ::fstat(out.get(), &created);
    if (!nameDurableDevice_ || nameDurableDevice_->first != created.st_dev)
        nameDurableDevice_ = {created.st_dev, nameDurableWithFile(out.get(), created.st_dev)};
    const bool nameDurable = nameDurableDevice_->second;

    // From here on every failure removes the file, but only while the name still leads to
    // the file this call created.
    auto copy = std::make_unique<WrittenCopy>(io_, out.release(), destination, created.st_dev, created.st_ino,
                                              nameDurable);
    auto failRemoving = [&](std::string reason) {
        copy->discard();
        return fail(std::move(reason));
    };

    XXHash64::Stream digest(0);
    int64_t count = 0;
    int64_t windowStart = 0;
    for (;;) {
        ssize_t got = io_.read(in.get(), buffer_->bytes, chunkSize_);
        if (got < 0) {
            if (errno == EINTR) continue;
            return failRemoving(errnoText(errno));
        }
        if (got == 0) break;
        size_t written = 0;
        while (written < static_cast<size_t>(got)) {
            ssize_t put = io_.write(copy->fd(), buffer_->bytes + written, static_cast<size_t>(got) - written);
            if (put < 0) {
                if (errno == EINTR) continue;
                return failRemoving(errnoText(errno));
            }
            if (put == 0) return failRemoving(errnoText(EIO));
            written += static_cast<size_t>(put);
        }
        digest.update(buffer_->bytes, static_cast<size_t>(got));
        count += got;
        if (count - windowStart >= writebackWindow) {
            // Start writing this window; wait for and drop the one before it. Errors here
            // only cost speed: the copy's own fsync reports any failure to write.
            ::sync_file_range(copy->fd(), windowStart, count - windowStart, SYNC_FILE_RANGE_WRITE);
            if (windowStart > 0) {
                ::sync_file_range(copy->fd(), 0, windowStart,
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
                ::posix_fadvise(copy->fd(), 0, windowStart, POSIX_FADV_DONTNEED);
            }
            ::posix_fadvise(in.get(), 0, count, POSIX_FADV_DONTNEED);
            windowStart = count;
        }
        if (onProgress) onProgress(count);
    }
    in.reset();

    // Start writing the rest now, so the device works while the next file is read.
    if (count > windowStart) ::sync_file_range(copy->fd(), windowStart, count - windowStart, SYNC_FILE_RANGE_WRITE);

    // The date goes in before the flush so the flush makes it durable too. Failing to set
    // it is not a failure of the copy.
    struct timespec times[2] = {{0, UTIME_OMIT}, sourceStat.st_mtim};
    io_.futimens(copy->fd(), times);

    result.status = StreamCopyResult::Status::written;
    result.sourceDigest = digest.finalizeHex();
    result.bytesCopied = count;
    result.copy = std::move(copy);
    return result;
}

}  // namespace tessaline
