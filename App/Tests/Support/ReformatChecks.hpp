#pragma once
// What the reformat tests read back: a tag of a device's superblock as blkid probes it, the
// mount points of a device, whether a folder is a mount point, and the reformat view model's
// phase as text for failure messages.

#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace brindlecove::testing {

// blkid -p's value of `tag` ("TYPE", "LABEL", "UUID", "VERSION") for `device`; "" when none.
std::string blkidTag(const std::string& device, const std::string& tag);
// Where `device` is mounted, in findmnt's order.
std::vector<std::string> mountPointsOf(const std::string& device);
bool isMountPoint(const std::filesystem::path& path);
// "refused: …", "failed: …", "done: …" or "phase <n>".
std::string phaseText(const DriveFormatViewModel& vm);

}  // namespace brindlecove::testing
