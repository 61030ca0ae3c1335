#pragma once
// Whether the folder a sync pair copies lies on its card. The folder is reached from the card
// root's own handle one folder at a time, following no link, and must be on the card's device:
// a card carrying "DCIM -> /home/user", or a folder of it with another drive mounted on it,
// would otherwise have a sync copy whatever that leads to onto a destination that may leave
// the building. Links inside the folder are left to the scan, which never follows them. Runs
// on the caller's thread; never throws.

#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

// The reason in words when the folder `relativeFolder` ("a/b", or empty for the root) below
// the mounted card at `cardRoot` does not lie on the card: "The source folder <path> leads
// off the card through a link, so nothing was copied." or "… is on another drive than the
// card, so nothing was copied.". nullopt when it lies on the card, and also when it cannot be
// examined (missing, not a folder, unreadable): the scan reports those.
std::optional<std::string> sourceOffCardReason(const std::filesystem::path& cardRoot,
                                               const std::filesystem::path& relativeFolder);

// "The source folder <path> lies outside the card, so nothing was copied." (a subfolder
// that names an absolute path or goes up with "..").
std::string sourceOutsideCardText(const std::filesystem::path& folder);

}  // namespace tessaline
