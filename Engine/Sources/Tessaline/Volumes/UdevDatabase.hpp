#pragma once
// Reads the udev database that a udev daemon keeps under /run/udev/data (world-readable):
// the desktop's way to a device's file-system label and UUID without privilege. Machines
// without a udev daemon have no database; every lookup then answers nullopt. Any thread.

#include <sys/types.h>

#include <optional>
#include <string>

namespace tessaline {

// The value of property `key` ("ID_FS_LABEL_ENC") of block device `device`, with "\xNN"
// escapes decoded. nullopt when absent, empty or unreadable.
std::optional<std::string> udevProperty(dev_t device, const std::string& key);

// Decodes udev's "\xNN" escapes ("NO\x20NAME" gives "NO NAME").
std::string decodeUdevEscapes(const std::string& encoded);

}  // namespace tessaline
