#pragma once
// Whole-file XXH64 in fixed-size reads into one reused buffer, optionally past the page
// cache, stoppable between reads, with byte progress. Runs on the caller's thread; separate
// calls may run at once on different threads.

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

namespace tessaline {

// Thrown when the caller's cancellation test answers true before a read.
class ChecksumCancelledError : public std::runtime_error {
public:
    ChecksumCancelledError() : std::runtime_error("The checksum was cancelled.") {}
};

// Opens a file for reading and returns its descriptor, or -1 with errno set. The default
// opens it read-only; tests pass one that fails on purpose (as root, modes cannot).
using FileOpener = std::function<int(const std::filesystem::path& path, int flags)>;
FileOpener defaultFileOpener();

class ChecksumEngine {
public:
    static constexpr int64_t defaultChunkSize = 4 * 1024 * 1024;

    // Throws std::invalid_argument when chunkSize < 1: a zero-byte read would end every
    // file at once and two different files would hash alike.
    explicit ChecksumEngine(int64_t chunkSize = defaultChunkSize, FileOpener opener = defaultFileOpener());
    int64_t chunkSize() const { return chunkSize_; }
    void setChunkSize(int64_t chunkSize);

    using CancelTest = std::function<bool()>;
    using Progress = std::function<void(int64_t bytesDone, int64_t bytesTotal)>;

    // One whole read of a file: the status of the open file (fstat) before its first read
    // and after its last, and the digest of what was read.
    struct Read {
        const std::filesystem::path& file;
        const struct stat& opened;
        const struct stat& closed;
        const std::string& digest;
    };
    // Told of every read that hashed a whole file, on the thread that read it (the engine is
    // copied with it); reads that fail or are cancelled are not told. Empty: none.
    using ReadObserver = std::function<void(const Read&)>;
    void observeReads(ReadObserver observer) { observer_ = std::move(observer); }

    // The file's XXH64 (seed 0) as 16 lowercase hex digits. isCancelled is asked before every
    // read, the first included; progress is called after every read with (bytes so far,
    // file size at open or 0). bypassingCache reads from the device, not cached pages.
    // Throws FileReadError for a file that cannot be opened or read or is not a regular file
    // (FIFOs and devices are refused before reading), ChecksumCancelledError on cancellation.
    // The file is closed on every path.
    std::string hash(const std::filesystem::path& file, bool bypassingCache = false,
                     const CancelTest& isCancelled = {}, const Progress& progress = {}) const;

    // hash() of a file the caller opened for reading, from its current offset (0 for a file
    // just opened), through the page cache; `file` names it in errors. The caller keeps and
    // closes `fd`.
    std::string hashOpen(int fd, const std::filesystem::path& file, const CancelTest& isCancelled = {},
                         const Progress& progress = {}) const;

    // Whether two files hold the same bytes. Different sizes (or unreadable sizes) answer
    // false without reading. Throws what hash() throws.
    bool verify(const std::filesystem::path& source, const std::filesystem::path& destination,
                const CancelTest& isCancelled = {}, const Progress& progress = {}) const;

private:
    std::string hashDescriptor(int fd, const std::filesystem::path& file, bool bypassingCache, bool direct,
                               const CancelTest& isCancelled, const Progress& progress) const;

    int64_t chunkSize_;
    FileOpener opener_;
    ReadObserver observer_;
};

}  // namespace tessaline
