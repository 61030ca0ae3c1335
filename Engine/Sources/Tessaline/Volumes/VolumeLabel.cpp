#include "Tessaline/Volumes/VolumeLabel.hpp"

#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/UniqueFd.hpp"
#include "Tessaline/Volumes/BlkidProbe.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/UdevDatabase.hpp"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

namespace tessaline {

namespace {

// FS_IOC_GETFSLABEL on the mount point. Only asked of kernel-local file systems: a FUSE
// daemon or a network server that hangs would freeze the caller in open().
std::optional<std::string> kernelLabel(const MountEntry& entry) {
    if (entry.isFuse() || entry.isNetwork || entry.isPseudo) return std::nullopt;
    UniqueFd fd(::open(entry.mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return std::nullopt;
    char label[FSLABEL_MAX + 1] = {};
    if (::ioctl(fd.get(), FS_IOC_GETFSLABEL, label) != 0) return std::nullopt;
    label[FSLABEL_MAX] = '\0';
    std::string text(label);
    if (text.empty()) return std::nullopt;
    return text;
}

}  // namespace

std::optional<std::string> ownVolumeLabel(const MountEntry& entry) {
    if (auto label = kernelLabel(entry)) return label;
    if (auto device = entry.blockDevice()) {
        if (auto label = udevProperty(*device, "ID_FS_LABEL_ENC")) return label;
        if (auto label = probeFileSystem(entry.source).label) return label;
    }
    return std::nullopt;
}

std::optional<std::string> volumeName(const MountEntry& entry) {
    if (auto label = ownVolumeLabel(entry)) return label;
    if (entry.mountPoint != "/") {
        std::string folder = lastComponent(entry.mountPoint);
        if (!folder.empty() && folder != "/") return folder;
    }
    return std::nullopt;
}

std::optional<std::string> volumeLabel(const std::filesystem::path& path) {
    auto entry = mountEntryFor(path);
    if (!entry) return std::nullopt;
    return volumeName(*entry);
}

}  // namespace tessaline
