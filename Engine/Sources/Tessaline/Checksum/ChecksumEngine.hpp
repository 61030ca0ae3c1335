#pragma once
// Whole-file XXH64 in fixed-size reads into one reused buffer, optionally past the page
// cache, stoppable between reads, with byte progress. Runs on the caller's thread; separate
// calls may run at once on different threads.

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

    // The file's XXH64 (seed 0) as 16 lowercase hex digits. isCancelled is asked before every
    // read, the first included; progress is called after every read with (bytes so far,
    // file size at open or 0). bypassingCache reads from the device, not cached pages.
    // Throws FileReadError for a file that cannot be opened or read or is not a regular file
    // (FIFOs and devices are refused before reading), ChecksumCancelledError on cancellation.
    // The file is closed on every path.
    std::string hash(const std::filesystem::path& file, bool bypassingCache = false,
                     const CancelTest& isCancelled = {}, const Progress& progress = {}) const;

    // Whether two files hold the same bytes. Different sizes (or unreadable sizes) answer
    // false without reading. Throws what hash() throws.
    bool verify(const std::filesystem::path& source, const std::filesystem::path& destination,
                const CancelTest& isCancelled = {}, const Progress& progress = {}) const;

private:
    int64_t chunkSize_;
    FileOpener opener_;
};

}  // namespace tessaline
