#pragma once
// Whether a sync destination is really on its drive, and which volume it is on. A folder
// that merely exists where a drive used to be mounted (a stale /media/<user>/Backup, an
// fstab /mnt/backup) lies on the system disk; copying there would record a verified backup
// that is not on the drive. Reads the mount table afresh; safe on any thread; never throws.

#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

// For a path below a mount parent (/media/<user>/<name>, /media/<name>, /run/media/<user>/<name>,
// /mnt/<name>, /Volumes/<name>): true only when that folder is a current mount point whose
// volume name is <name>; the deeper folders need not exist. A path that names no volume
// below a mount parent ("/media") is not connected. Any other absolute path: true when it,
// or its parent folder, exists. A relative path is never connected.
bool destinationIsConnected(const std::filesystem::path& destination);

// `destination` when it exists, else its nearest existing ancestor: the folder whose
// volume the destination is on (it need not exist yet). nullopt for a relative path.
std::optional<std::filesystem::path> nearestExistingFolder(const std::filesystem::path& destination);

// The volume name of the mount holding `destination`, or of its nearest existing ancestor
// (the destination need not exist yet); nullopt when none can be read.
std::optional<std::string> destinationVolumeName(const std::filesystem::path& destination);

}  // namespace tessaline
