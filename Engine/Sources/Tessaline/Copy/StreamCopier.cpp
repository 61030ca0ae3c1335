#include "Tessaline/Copy/StreamCopier.hpp"

#include "Tessaline/Checksum/XXHash64.hpp"
#include "Tessaline/Copy/DestinationNameFault.hpp"
#include "Tessaline/Support/FileErrors.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

namespace tessaline {

namespace {

// Writeback is started every this many bytes and the window before it is waited for and
// dropped from the page cache. Without it a large clip piles up to dirty_ratio of RAM and
// the final fsync waits for all of it.
constexpr int64_t writebackWindow = 64 * 1024 * 1024;

int openSource(CopyFileIO& io, const std::filesystem::path& source) {
    // O_NOATIME keeps a card's access times unchanged; only the owner (or root) may ask for it.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = io.open(source.c_str(), flags | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = io.open(source.c_str(), flags);
    return fd;
}

}  // namespace

std::string StreamCopier::cannotCreateText(const std::filesystem::path& finalName, int error) {
    return "Couldn't create destination file: " + DestinationNameFault::reason(finalName.filename().native(), error) +
           ".";
}

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

StreamCopyResult StreamCopier::write(const std::filesystem::path& source, const std::filesystem::path& finalName,
                                    const VolumePin& volume, const std::function<void(int64_t)>& onProgress,
                                    const std::function<bool()>& isStopped) {
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
    result.sourceBefore = SourceIdentity::ofDescriptor(in.get());
    ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    // The folder is held open from here on, so the copy is removed or its name flushed in
    // this very folder whatever its path leads to later.
    SeamFd folder(io_, io_.open(finalName.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return fail(cannotCreateText(finalName.parent_path(), errno));
    auto gone = [&] {
        // The folder no longer leads onto the destination volume (a drive pulled since it
        // was checked): not a byte goes to whatever volume holds it now.
        result.status = StreamCopyResult::Status::destinationGone;
        return std::move(result);
    };
    if (!volume.holds(folder.get())) return gone();

    // Exclusive create of a fresh temporary name: nothing that exists is ever opened,
    // truncated or followed. A clash of two random names is retried with another.
    std::filesystem::path temporary;
    int created = -1;
    int createError = 0;
    for (int attempt = 0; attempt < 8 && created < 0; ++attempt) {
        temporary = WrittenCopy::temporaryName(finalName);
        created = io_.open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        createError = errno;
        if (created < 0 && createError != EEXIST) break;
    }
    if (created < 0) return fail(cannotCreateText(finalName, createError));
    struct stat createdStat{};
    ::fstat(created, &createdStat);
    // From here on every failure removes the file, but only while the name in the folder
    // still leads to the file this call created.
    auto copy = std::make_unique<WrittenCopy>(io_, created, std::move(folder), temporary, createdStat.st_dev,
                                              createdStat.st_ino);
    if (!volume.holds(copy->fd())) {
        copy->discard();
        return gone();
    }
    auto failRemoving = [&](std::string reason) {
        copy->discard();
        return fail(std::move(reason));
    };

    XXHash64::Stream digest(0);
    int64_t count = 0;
    int64_t windowStart = 0;
    for (;;) {
        if (isStopped && isStopped()) {
            copy->discard();
            result.status = StreamCopyResult::Status::stopped;
            return result;
        }
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
    // The file read must still be the file opened, unchanged, and still the one the path
    // leads to (not replaced by a rename).
    auto afterRead = SourceIdentity::ofDescriptor(in.get());
    result.sourceChangedDuringRead = !result.sourceBefore || afterRead != result.sourceBefore ||
                                     SourceIdentity::ofPath(source) != result.sourceBefore;

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
    result.source = std::move(in);
    return result;
}

}  // namespace tessaline
