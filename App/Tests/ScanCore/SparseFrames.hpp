#pragma once
// Large frames that cost little room, for the scan tests of big archives: a real image's
// header, a hole, and eight bytes of the frame's own number at the end (so every frame's bytes
// differ); and what this process has read, to bound a scan's reading.

#include <cstdint>
#include <filesystem>
#include <string>

namespace brindlecove::testing {

// Writes `file` (folders created) as `header`, a hole to `size` bytes less eight, then eight
// bytes of `number`; modified (and accessed) at `when`, seconds since 1970. A test failure
// names the file when it can't be written.
void writeSparseFrame(const std::filesystem::path& file, const std::string& header, uint64_t number, int64_t size,
                      double when);

// The bytes this process read() so far (page cache hits included), from /proc/self/io.
int64_t processBytesRead();

}  // namespace brindlecove::testing
