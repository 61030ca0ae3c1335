#pragma once
// Where a rescue copy may write: the folder suggested from a report (where the clips already
// confirmed on a drive live) and the check, made as the copy starts, that the chosen folder
// is still the one on the drive it was chosen on.
//
// A suggestion must lie on one drive: copies confirmed on two drives mounted side by side
// share the removable-media parent folder (/media/<user>), which is on the system disk, so a
// common prefix is suggested only when every confirmed folder is on one file system and the
// prefix lies at or below that file system's mount point. Any thread.

#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Volumes/VolumePin.hpp"

#include <QString>

#include <filesystem>
#include <functional>
#include <optional>

namespace brindlecove::RescueDestination {

// The mount point of the file system holding an existing folder; nullopt when the folder
// does not exist or its mount cannot be read.
using MountPointOf = std::function<std::optional<QString>(const QString& folder)>;

// The system's mount table (the engine's volume layer).
MountPointOf systemMountPoints();

// The longest common folder of the report's confirmed copies, at least two levels below the
// root, on the one file system that holds them all, at or below its mount point; nullopt
// otherwise (no confirmed result, copies on several drives, a drive no longer there).
// `mountPointOf` null: the lexical rule alone.
std::optional<QString> commonFolderOfConfirmed(const tessaline::VerificationReport& report,
                                               const MountPointOf& mountPointOf);

// "The destination folder <path> isn't available — is the drive connected?"
QString unavailableText(const QString& folder);

// Whether `folder` is still usable as the destination chosen on volume `chosen`: an existing
// folder on the same volume (the same file system UUID where both have one, else the same
// device and mount). Never creates anything. Returns the volume to pin the copy to, or
// nullopt when the folder is not there. Any thread (it reads the file system).
std::optional<tessaline::VolumePin> stillAvailable(const std::filesystem::path& folder,
                                                   const std::optional<tessaline::VolumePin>& chosen);

}  // namespace brindlecove::RescueDestination
