#pragma once

#include <filesystem>
#include <optional>

namespace tessaline {

// Moves a user file that exists but cannot be read or decoded out of the way, to
// "<name>.unreadable-<yyyyMMdd-HHmmss>" (local time) beside it, before anything replaces it.
// Returns the new path, or nullopt when the file was absent or could not be renamed.
std::optional<std::filesystem::path> renameAsideUnreadable(const std::filesystem::path& path);

}  // namespace tessaline
