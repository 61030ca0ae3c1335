#pragma once
// One file's stream copy for the copy engine (internal): the source is read once, each
// chunk written to a new file under a hidden temporary name in the destination folder and
// fed to XXH64; the copy gets the source's modification date. The new file is checked by
// its descriptor to lie on the destination volume before a byte is written. The written
// copy is handed back open and unflushed (WrittenCopy), so the engine can flush several
// copies' file system at once before each copy's own checked fsync, prove it and move it to
// its final name. The source stays open with its identity taken before and after the read,
// so the engine can tell whether the card file changed while it was copied. On failure the
// temporary file this call created is removed again; nothing else is touched. Runs on the
// caller's thread.

#include "Tessaline/Copy/CopyFileIO.hpp"
#include "Tessaline/Copy/SeamFd.hpp"
#include "Tessaline/Copy/SourceIdentity.hpp"
#include "Tessaline/Copy/WrittenCopy.hpp"
#include "Tessaline/Volumes/VolumePin.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tessaline {

struct StreamCopyResult {
    // stopped: the caller's stop test answered true between two chunks; the temporary file
    // is removed.
    enum class Status { written, destinationGone, failed, stopped };
    Status status = Status::failed;
    std::string sourceDigest;  // written: XXH64 of the bytes read and written
    int64_t bytesCopied = 0;
    std::string failure;       // failed: the reason in words
    std::unique_ptr<WrittenCopy> copy;  // written: the open, unflushed copy (temporary name)
    SeamFd source;                      // written: the source, still open
    std::optional<SourceIdentity> sourceBefore;  // the source as it was opened
    bool sourceChangedDuringRead = true;         // its identity after the read differs (or is unknown)
};

class StreamCopier {
public:
    // One reusable buffer of `chunkSize` bytes (at least 1) for every file of a run.
    StreamCopier(CopyFileIO& io, int64_t chunkSize);
    ~StreamCopier();

    // Copies `source` to a temporary name beside `finalName`. destinationGone: the new file
    // is not on `volume` (removed again, nothing written). A source that cannot be opened or
    // read, a creation or write failure: failed, with the created file removed. `isStopped`
    // (may be empty) is asked before every chunk is read: true ends the copy as stopped, its
    // file removed. Writeback of the copy is started before it is returned.
    StreamCopyResult write(const std::filesystem::path& source, const std::filesystem::path& finalName,
                           const VolumePin& volume, const std::function<void(int64_t bytesSoFar)>& onProgress,
                           const std::function<bool()>& isStopped = {});

    // "Couldn't create destination file: " and why, in words: the name the destination can't
    // hold and the characters at fault, or the system's text for `error`.
    static std::string cannotCreateText(const std::filesystem::path& finalName, int error);

private:
    struct Buffer;
    CopyFileIO& io_;
    size_t chunkSize_;
    std::unique_ptr<Buffer> buffer_;
};

}  // namespace tessaline
