#pragma once
// One file's stream copy for the copy engine (internal): the source is read once, each
// chunk written to a destination file created exclusively and fed to XXH64; the copy gets
// the source's modification date. The written copy is handed back open and unflushed
// (WrittenCopy), so the engine can flush several copies' file system at once before each
// copy's own checked fsync. On failure the destination file this call created is removed
// again; nothing that existed before is ever touched. Runs on the caller's thread.

#include "Tessaline/Copy/CopyFileIO.hpp"
#include "Tessaline/Copy/WrittenCopy.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <string>

namespace tessaline {

struct StreamCopyResult {
    enum class Status { written, nameTaken, failed };
    Status status = Status::failed;
    std::string sourceDigest;  // written: XXH64 of the bytes read and written
    int64_t bytesCopied = 0;
    std::string failure;       // failed: the reason in words
    std::unique_ptr<WrittenCopy> copy;  // written: the open, unflushed copy
};

class StreamCopier {
public:
    // One reusable buffer of `chunkSize` bytes (at least 1) for every file of a run.
    StreamCopier(CopyFileIO& io, int64_t chunkSize);
    ~StreamCopier();

    // nameTaken: `destination` existed at creation time (nothing was written); any other
    // creation failure, a source that cannot be opened or read, a failed write: failed, with
    // the created file removed. Writeback of the copy is started before it is returned.
    StreamCopyResult write(const std::filesystem::path& source, const std::filesystem::path& destination,
                          const std::function<void(int64_t bytesSoFar)>& onProgress);

    static const char* cannotCreateText;  // "Couldn't create destination file."

private:
    struct Buffer;
    CopyFileIO& io_;
    size_t chunkSize_;
    std::unique_ptr<Buffer> buffer_;
    // Whether the last destination device keeps new names durable with the file's fsync.
    std::optional<std::pair<dev_t, bool>> nameDurableDevice_;
};

}  // namespace tessaline
