#pragma once
// The files operating systems leave on the volumes they see, with the bytes their makers
// write: an AppleDouble "._" file, the Finder's ".DS_Store", a "Thumbs.db" compound file and
// a folder's "desktop.ini".

#include <filesystem>
#include <string>

namespace tessaline::testing {

// The bytes such a file holds, chosen by its name (case ignored); "" for any other name.
std::string litterBytes(const std::string& name);
// Writes those bytes to `path` (parent folders created).
void writeLitter(const std::filesystem::path& path);

}  // namespace tessaline::testing
