#pragma once
// The one rule for a volume's name, used by the volume listing, volume identities, the
// fingerprint cache's keys, access grants, sync pairs and pickers. Safe on any thread;
// never throws.
//
// A mount's name is the first of: the file system's own label (FS_IOC_GETFSLABEL, kernel
// file systems only, no privilege needed); the udev database's ID_FS_LABEL_ENC (not
// ID_FS_LABEL, which udev rewrites, "NO NAME" to "NO_NAME"); libblkid's probe of the
// device (needs read access to it); the mount point's folder name, except for "/"
// (unlabeled cards are mounted at a folder named after their UUID, stable per card).

#include "Tessaline/Volumes/MountEntry.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

// The name of the mounted volume that holds `path` (after resolving symlinks). nullopt
// when the path does not exist, is on no mount, or the volume has no name (an unlabeled
// root file system).
std::optional<std::string> volumeLabel(const std::filesystem::path& path);

// The name of the mounted file system `entry`, by the rule above; nullopt when it has none.
std::optional<std::string> volumeName(const MountEntry& entry);

// The file system's own label (the rule above without the mount point's folder name);
// nullopt for an unlabeled volume.
std::optional<std::string> ownVolumeLabel(const MountEntry& entry);

}  // namespace tessaline
