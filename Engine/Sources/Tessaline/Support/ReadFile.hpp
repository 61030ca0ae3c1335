#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace tessaline {

// The whole content of a regular file: the one reader of every file the program reads from
// a place that a user or another program can write (its own JSON stores, the log archive's
// meta files, the autostart entry). Never blocks on a special file: anything that is not a
// regular file (a folder, a FIFO, a socket, a device) is refused before it is opened, and
// the open itself cannot block (O_NONBLOCK, then fstat on the descriptor, for a file
// swapped in between). A file larger than `maxBytes` is refused without being read.
// Throws FileReadError (with errno; ENOENT when the file is missing, EISDIR for a folder,
// EINVAL "it is not a regular file" for any other special file, EFBIG when too large).
// Safe on any thread.
std::string readWholeFile(const std::filesystem::path& path, int64_t maxBytes = INT64_MAX);

// The same for the entry `name` of the open folder `folderFd`, never through a link: a link
// there is refused like any other file that is not a regular one (EINVAL). Errors name
// `shownPath`.
std::string readWholeFileAt(int folderFd, const std::string& name, const std::filesystem::path& shownPath,
                            int64_t maxBytes = INT64_MAX);

}  // namespace tessaline
