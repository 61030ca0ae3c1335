#pragma once
// Moves a proven copy from its temporary name to its final name in the same folder without
// ever replacing a file that is there (internal to the copy engine). Runs on the caller's
// thread; every call goes through the copy seam.

#include "Tessaline/Copy/CopyFileIO.hpp"

#include <filesystem>

namespace tessaline {

// 0 when `from` now has the name `to`; EEXIST when `to` is taken (nothing moved); any other
// errno when the move failed (`from` keeps its name; nothing else changed).
int renameNoReplace(CopyFileIO& io, const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace tessaline
