#include "Tessaline/Volumes/BlockDeviceNode.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <string>

namespace tessaline {

std::optional<std::filesystem::path> blockDeviceNode(dev_t device) {
    std::ifstream uevent("/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device)) +
                         "/uevent");
    std::string name;
    for (std::string line; std::getline(uevent, line);)
        if (line.rfind("DEVNAME=", 0) == 0) name = line.substr(8);
    if (name.empty() || name.find("..") != std::string::npos) return std::nullopt;
    const std::filesystem::path node = std::filesystem::path("/dev") / name;
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode) || st.st_rdev != device) return std::nullopt;
    return node;
}

}  // namespace tessaline
