#include "Tessaline/Volumes/ProofGround.hpp"

#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

using Doubt = ProofGround::Doubt;

constexpr long overlayMagic = 0x794c7630;  // OVERLAYFS_SUPER_MAGIC
constexpr long btrfsMagic = 0x9123683e;    // BTRFS_SUPER_MAGIC
// Devices stacked deeper than this are not followed and count as unidentified.
constexpr int maxDepth = 16;

std::optional<std::string> firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return line;
}

// A sysfs "dev" file's "major:minor".
std::optional<dev_t> deviceNumberIn(const fs::path& folder) {
    const auto text = firstLine(folder / "dev");
    unsigned major = 0, minor = 0;
    if (!text || std::sscanf(text->c_str(), "%u:%u", &major, &minor) != 2) return std::nullopt;
    return makedev(major, minor);
}

std::optional<fs::path> sysfsFolderOf(dev_t device) {
    const std::string link = "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    char buffer[PATH_MAX];
    if (!::realpath(link.c_str(), buffer)) return std::nullopt;
    return fs::path(buffer);
}

std::optional<Doubt> judgeBlock(dev_t device, dev_t card, int depth);

// The device a loop device reads its backing file from, asked of the device itself; nothing
// when it cannot be opened (the node is checked to be that very device) or refuses to say.
std::optional<dev_t> backingDeviceOfLoop(const fs::path& folder, dev_t device) {
    std::ifstream uevent(folder / "uevent");
    std::string name;
    for (std::string line; std::getline(uevent, line);)
        if (line.rfind("DEVNAME=", 0) == 0) name = line.substr(8);
    if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
    const int fd = ::open(("/dev/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    loop_info64 info {};
    const bool known = ::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == device &&
                       ::ioctl(fd, LOOP_GET_STATUS64, &info) == 0;
    ::close(fd);
    if (!known) return std::nullopt;
    return static_cast<dev_t>(info.lo_device);
}

std::optional<Doubt> judgeLoop(const fs::path& folder, dev_t device, dev_t card, int depth) {
    const std::optional<dev_t> backing = backingDeviceOfLoop(folder, device);
    if (!backing) return Doubt::unidentified;
    if (*backing == card) return Doubt::imageOnCard;
    // An image on a block device: that device may itself be an image on the card. A backing
    // file on an anonymous device (tmpfs, FUSE, network) is looked at no further.
    if (major(*backing) != 0) return judgeBlock(*backing, card, depth + 1);
    return std::nullopt;
}

std::optional<Doubt> judgeBlock(dev_t device, dev_t card, int depth) {
    if (device == card) return Doubt::imageOnCard;
    if (depth > maxDepth) return Doubt::unidentified;
    const std::optional<fs::path> folder = sysfsFolderOf(device);
    if (!folder) return Doubt::unidentified;
    std::error_code ec;
    // A partition: judged by the disk it lies on.
    if (fs::exists(*folder / "partition", ec)) {
        const std::optional<dev_t> disk = deviceNumberIn(folder->parent_path());
        if (!disk) return Doubt::unidentified;
        return judgeBlock(*disk, card, depth + 1);
    }
    if (major(device) == 7 || fs::exists(*folder / "loop", ec)) return judgeLoop(*folder, device, card, depth);
    // Device-mapper and md: every device below.
    for (fs::directory_iterator it(*folder / "slaves", ec), end; !ec && it != end; it.increment(ec)) {
        const std::optional<dev_t> below = deviceNumberIn(it->path());
        if (!below) return Doubt::unidentified;
        if (auto doubt = judgeBlock(*below, card, depth + 1)) return doubt;
    }
    return std::nullopt;
}

// A btrfs file system has an anonymous device number of its own: judged by every device it
// spans (/sys/fs/btrfs/<fsid>/devices/).
std::optional<Doubt> judgeBtrfs(const fs::path& pathOnIt, dev_t card) {
    const int fd = ::open(pathOnIt.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Doubt::unidentified;
    btrfs_ioctl_fs_info_args info {};
    const bool known = ::ioctl(fd, BTRFS_IOC_FS_INFO, &info) == 0;
    ::close(fd);
    if (!known) return Doubt::unidentified;
    static constexpr char hex[] = "0123456789abcdef";
    std::string fsid;
    for (size_t i = 0; i < BTRFS_FSID_SIZE; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) fsid.push_back('-');
        fsid.push_back(hex[info.fsid[i] >> 4]);
        fsid.push_back(hex[info.fsid[i] & 0xf]);
    }
    std::error_code ec;
    int devices = 0;
    for (fs::directory_iterator it(fs::path("/sys/fs/btrfs") / fsid / "devices", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::optional<dev_t> below = deviceNumberIn(it->path());
        if (!below) return Doubt::unidentified;
        ++devices;
        if (auto doubt = judgeBlock(*below, card, 1)) return doubt;
    }
    if (ec || devices == 0) return Doubt::unidentified;
    return std::nullopt;
}

}  // namespace

std::optional<Doubt> ProofGround::judge(dev_t device, const fs::path& pathOnIt, dev_t cardDevice) {
    if (device == cardDevice) return std::nullopt;
    if (major(device) != 0) return judgeBlock(device, cardDevice, 0);
    struct statfs info {};
    if (::statfs(pathOnIt.c_str(), &info) != 0) return Doubt::unidentified;
    if (static_cast<long>(info.f_type) == overlayMagic) return Doubt::overlay;
    if (static_cast<long>(info.f_type) == btrfsMagic) return judgeBtrfs(pathOnIt, cardDevice);
    return std::nullopt;
}

std::optional<Doubt> ProofGround::doubtOf(dev_t device, const fs::path& pathOnIt, dev_t cardDevice) {
    if (device == cardDevice) return std::nullopt;
    const auto key = std::pair{device, cardDevice};
    if (auto it = known_.find(key); it != known_.end()) return it->second;
    const std::optional<Doubt> doubt = judge(device, pathOnIt, cardDevice);
    known_.emplace(key, doubt);
    return doubt;
}

std::optional<Doubt> ProofGround::doubtOf(const fs::path& path, dev_t cardDevice) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return doubtOf(st.st_dev, path, cardDevice);
}

std::string ProofGround::reasonText(Doubt doubt) {
    switch (doubt) {
        case Doubt::overlay:
            return "on an overlay (a layered view), which can show the card's own files";
        case Doubt::imageOnCard:
            return "inside a disk image stored on the card";
        case Doubt::unidentified:
            return "inside a disk image whose file can't be identified, so it may be stored on the card";
    }
    return {};
}

std::string ProofGround::reasonKey(Doubt doubt) {
    switch (doubt) {
        case Doubt::overlay: return "overlay";
        case Doubt::imageOnCard: return "image_on_card";
        case Doubt::unidentified: return "unidentified_image";
    }
    return {};
}

}  // namespace tessaline
