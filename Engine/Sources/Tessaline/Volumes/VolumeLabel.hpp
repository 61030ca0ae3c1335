#pragma once
// The one rule for a volume's name, used by the volume listing, volume identities, the
// fingerprint cache's keys, access grants, sync pairs and pickers.

#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

// The name of the mounted volume that holds `path`: the file system's label, else the
// udev database's, else libblkid's, else the mount point's folder name (not for "/").
// nullopt when the path is not on a readable mount or the volume has no name. Never throws.
std::optional<std::string> volumeLabel(const std::filesystem::path& path);

}  // namespace tessaline
