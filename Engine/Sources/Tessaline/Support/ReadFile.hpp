#pragma once

#include <filesystem>
#include <string>

namespace tessaline {

// The whole content of a regular file. Throws FileReadError (with errno; ENOENT when the
// file is missing, EISDIR for a folder). Safe on any thread.
std::string readWholeFile(const std::filesystem::path& path);

}  // namespace tessaline
