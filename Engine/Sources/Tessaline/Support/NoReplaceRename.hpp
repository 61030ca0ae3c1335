#pragma once
// Moves a complete file from its temporary name to its final name in the same folder without
// ever replacing anything that is there: the copy engine's proven copies and the checked
// writer's new files. Runs on the caller's thread; every call goes through the given seam.

#include "Tessaline/Support/FileCalls.hpp"

#include <filesystem>

namespace tessaline {

// 0 when `from` now has the name `to`; EEXIST when `to` is taken (nothing moved); any other
// errno when the move failed (`from` keeps its name; nothing else changed).
int renameNoReplace(FileCalls& io, const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace tessaline
