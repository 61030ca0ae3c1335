#include "Tessaline/Checksum/ChecksumEngine.hpp"

#include "Tessaline/Checksum/XXHash64.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/UniqueFd.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace tessaline {

namespace {

// O_DIRECT needs the buffer, the read size and the file offset aligned to the device's
// logical block; 4096 covers every device in use.
constexpr size_t directAlignment = 4096;

struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};

int64_t checkedChunkSize(int64_t chunkSize) {
    if (chunkSize < 1) throw std::invalid_argument("chunk size must be at least 1 byte");
    return chunkSize;
}

// Reading past the page cache. O_DIRECT where the file system takes it; otherwise (tmpfs,
// some FUSE, an odd chunk size) the cached pages are cleaned and dropped before the first
// read and after every chunk, which measured the same: both see bytes changed on the device
// under a stale cache, where a plain read returns the old bytes.
class CacheBypass {
public:
    CacheBypass(int fd, bool enabled, bool direct) : fd_(fd), enabled_(enabled), direct_(direct) {
        if (enabled_ && !direct_) dropCachedPages();
    }
    bool direct() const { return direct_; }

    // Leaves O_DIRECT for the page-dropping route (after EINVAL or an unaligned short read).
    void leaveDirect() {
        if (!direct_) return;
        direct_ = false;
        int flags = ::fcntl(fd_, F_GETFL);
        if (flags != -1) ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT);
        dropCachedPages();
    }
    void consumed(int64_t offset, int64_t length) const {
        if (enabled_ && !direct_) ::posix_fadvise(fd_, offset, length, POSIX_FADV_DONTNEED);
    }

private:
    void dropCachedPages() const {
        // Legal on a read-only descriptor: writes dirty pages back so DONTNEED can drop them.
        ::fdatasync(fd_);
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
    }
    int fd_;
    bool enabled_;
    bool direct_;
};

// Cached reads are issued in pieces of this size and each piece is hashed straight after its
// read, while it is still in the core's L2 cache: one 4 MiB copy followed by one 4 MiB hash
// pass measured up to 20% slower than xxhsum's small blocks on a loaded machine. Direct reads
// stay whole chunks (the device prefers large requests).
constexpr size_t cachedPiece = 256 * 1024;
// The room one piece takes, rounded up for O_DIRECT's alignment.
constexpr size_t pieceCapacity = (cachedPiece + directAlignment - 1) / directAlignment * directAlignment;

// The read buffer of one hash, aligned for O_DIRECT. Buffers of one piece (cached reads) are
// kept per thread between files. Measured reason: malloc maps and unmaps a fresh 256 KiB
// buffer for every file, and each unmap in a process with several hashing threads makes
// every core flush its TLB; proving 2,000 small files spent about a tenth of its time there.
class ReadBuffer {
public:
    explicit ReadBuffer(size_t capacity) : kept_(capacity == pieceCapacity) {
        if (kept_ && spare()) bytes_ = std::move(spare());
        else bytes_.reset(static_cast<unsigned char*>(std::aligned_alloc(directAlignment, capacity)));
        if (!bytes_) throw std::bad_alloc();
    }
    ~ReadBuffer() {
        if (kept_ && !spare()) spare() = std::move(bytes_);
    }
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;
    unsigned char* get() const { return bytes_.get(); }

private:
    using Bytes = std::unique_ptr<unsigned char, FreeDeleter>;
    // The thread's kept buffer; empty while a hash on this thread holds it.
    static Bytes& spare() {
        thread_local Bytes kept;
        return kept;
    }
    bool kept_;
    Bytes bytes_;
};

// Reads up to `length` bytes, looping over short reads, and feeds them to `stream`; fewer
// only at the end of the file. Returns the count, or -1 with errno set. Direct reads fill
// the buffer; cached reads go piece by piece into its start, so they need one piece of room.
ssize_t readChunk(int fd, unsigned char* buffer, size_t length, CacheBypass& bypass, XXHash64::Stream& stream) {
    size_t got = 0;
    while (got < length) {
        size_t want = std::min<size_t>(length - got, bypass.direct() ? size_t{1} << 30 : cachedPiece);
        unsigned char* target = bypass.direct() ? buffer + got : buffer;
        ssize_t n = ::read(fd, target, want);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EINVAL && bypass.direct()) {
                bypass.leaveDirect();
                continue;
            }
            return -1;
        }
        if (n == 0) break;
        stream.update(target, static_cast<size_t>(n));
        got += static_cast<size_t>(n);
        // After a short direct read the offset is unaligned: read the rest the other way.
        if (got < length && static_cast<size_t>(n) < want && bypass.direct()) bypass.leaveDirect();
    }
    return static_cast<ssize_t>(got);
}

}  // namespace

FileOpener defaultFileOpener() {
    return [](const std::filesystem::path& path, int flags) { return ::open(path.c_str(), flags); };
}

ChecksumEngine::ChecksumEngine(int64_t chunkSize, FileOpener opener)
    : chunkSize_(checkedChunkSize(chunkSize)), opener_(opener ? std::move(opener) : defaultFileOpener()) {}

void ChecksumEngine::setChunkSize(int64_t chunkSize) { chunkSize_ = checkedChunkSize(chunkSize); }

std::string ChecksumEngine::hash(const std::filesystem::path& file, bool bypassingCache,
                                 const CancelTest& isCancelled, const Progress& progress) const {
    // A FIFO or a device could block or never end: refuse it before opening anything.
    struct stat before {};
    if (::stat(file.c_str(), &before) == 0 && !S_ISREG(before.st_mode))
        throw FileReadError(file, EINVAL, "it is not a regular file");

    const size_t chunk = static_cast<size_t>(chunkSize_);
    bool direct = bypassingCache && chunk % directAlignment == 0;
    // O_NONBLOCK keeps a FIFO swapped in after the check from blocking the open; O_NOATIME
    // keeps proving a card from writing access times (only the owner or root may ask).
    int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOATIME | (direct ? O_DIRECT : 0);
    int raw = opener_(file, flags);
    if (raw < 0 && errno == EPERM) {
        flags &= ~O_NOATIME;
        raw = opener_(file, flags);
    }
    if (raw < 0 && errno == EINVAL && direct) {
        direct = false;
        flags &= ~O_DIRECT;
        raw = opener_(file, flags);
    }
    if (raw < 0) throw FileReadError(file, errno);
    UniqueFd fd(raw);
    return hashDescriptor(fd.get(), file, bypassingCache, direct, isCancelled, progress);
}

std::string ChecksumEngine::hashOpen(int fd, const std::filesystem::path& file, const CancelTest& isCancelled,
                                     const Progress& progress) const {
    return hashDescriptor(fd, file, false, false, isCancelled, progress);
}

std::string ChecksumEngine::hashDescriptor(int fd, const std::filesystem::path& file, bool bypassingCache, bool direct,
                                           const CancelTest& isCancelled, const Progress& progress) const {
    const size_t chunk = static_cast<size_t>(chunkSize_);
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw FileReadError(file, errno);
    if (!S_ISREG(st.st_mode)) throw FileReadError(file, EINVAL, "it is not a regular file");
    int status = ::fcntl(fd, F_GETFL);
    if (status != -1) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    const int64_t total = static_cast<int64_t>(st.st_size);

    CacheBypass bypass(fd, bypassingCache, direct);
    if (!bypassingCache) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    // One buffer for the whole file, aligned for O_DIRECT; no allocation per chunk. Cached
    // reads need one piece of room: mapping and unmapping a whole chunk for every small file
    // costs more than hashing it when several threads prove at once.
    const size_t room = direct ? chunk : std::min(chunk, cachedPiece);
    ReadBuffer buffer((room + directAlignment - 1) / directAlignment * directAlignment);

    XXHash64::Stream stream(0);
    int64_t done = 0;
    for (;;) {
        if (isCancelled && isCancelled()) throw ChecksumCancelledError();
        ssize_t n = readChunk(fd, buffer.get(), chunk, bypass, stream);
        if (n < 0) throw FileReadError(file, errno);
        if (n == 0) break;
        bypass.consumed(done, n);
        done += n;
        if (progress) progress(done, total);
    }
    std::string digest = stream.finalizeHex();
    if (observer_) {
        struct stat closed {};
        if (::fstat(fd, &closed) == 0) observer_(Read{file, st, closed, digest});
    }
    return digest;
}

bool ChecksumEngine::verify(const std::filesystem::path& source, const std::filesystem::path& destination,
                            const CancelTest& isCancelled, const Progress& progress) const {
    // Unreadable sizes get different sentinels, so two of them never compare equal.
    struct stat st {};
    const int64_t sourceSize = ::stat(source.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
    const int64_t destinationSize = ::stat(destination.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -2;
    if (sourceSize != destinationSize) return false;
    std::string sourceDigest = hash(source, false, isCancelled, progress);
    std::string destinationDigest = hash(destination, false, isCancelled, {});
    return sourceDigest == destinationDigest;
}

}  // namespace tessaline
