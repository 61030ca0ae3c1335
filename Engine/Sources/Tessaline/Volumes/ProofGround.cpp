#include "Tessaline/Volumes/ProofGround.hpp"

#include "Tessaline/Volumes/BlockDeviceNode.hpp"
#include "Tessaline/Volumes/MountTable.hpp"

#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <system_error>
#include <vector>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

using Doubt = ProofGround::Doubt;

constexpr long overlayMagic = 0x794c7630;  // OVERLAYFS_SUPER_MAGIC
constexpr long btrfsMagic = 0x9123683e;    // BTRFS_SUPER_MAGIC
// Devices stacked deeper than this are not followed and count as untraced.
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
    std::error_code ec;
    fs::path folder = fs::canonical(
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device)), ec);
    if (ec) return std::nullopt;
    return folder;
}

// What a loop device reads: a block device, or a file (the device holding it and its inode).
struct LoopBacking {
    std::optional<dev_t> device;
    dev_t fileDevice = 0;
    ino_t fileInode = 0;
};

// Asked of the loop device itself (root, the disk group): LOOP_GET_STATUS64 names the backing
// by number, lo_rdevice for a block device and lo_device/lo_inode for a file.
std::optional<LoopBacking> backingAskedOfDevice(dev_t device) {
    const std::optional<fs::path> node = blockDeviceNode(device);
    if (!node) return std::nullopt;
    const int fd = ::open(node->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    loop_info64 info {};
    const bool known = ::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == device &&
                       ::ioctl(fd, LOOP_GET_STATUS64, &info) == 0;
    ::close(fd);
    if (!known) return std::nullopt;
    LoopBacking backing;
    // A regular file has no rdev; a device node has the number of the device it stands for.
    if (info.lo_rdevice != 0)
        backing.device = static_cast<dev_t>(info.lo_rdevice);
    else
        backing = {std::nullopt, static_cast<dev_t>(info.lo_device), static_cast<ino_t>(info.lo_inode)};
    return backing;
}

// Read by every user: the path the kernel gives for the backing file now (renames followed;
// " (deleted)" once unlinked), looked up again.
std::optional<LoopBacking> backingReadFromSysfs(const fs::path& folder) {
    const std::optional<std::string> path = firstLine(folder / "loop" / "backing_file");
    if (!path || path->empty() || path->front() != '/') return std::nullopt;
    struct stat st {};
    if (::stat(path->c_str(), &st) != 0) return std::nullopt;
    if (S_ISBLK(st.st_mode)) return LoopBacking{st.st_rdev, 0, 0};
    if (S_ISREG(st.st_mode)) return LoopBacking{std::nullopt, st.st_dev, st.st_ino};
    return std::nullopt;
}

// Everything a file system's bytes lie in, walked down from its device: the devices below it
// (a partition's disk, a loop device's backing device, device-mapper and md members, btrfs
// devices) and the disk-image files below loop devices. Each is read whole, or only in part
// (below a partition: the disk's other partitions are not read). The file systems holding
// those image files are kept apart: the bytes lie inside one file of them, not beside their
// other files.
class Reach {
public:
    // An image file's place: its device and inode. A device is kept with inode 0.
    using Node = std::pair<dev_t, ino_t>;

    explicit Reach(std::optional<MountTable>& table) : table_(table) {}

    void addDevice(dev_t device, bool whole, int depth = 0) {
        if (!mark({device, 0}, whole)) return;
        if (depth > maxDepth) {
            untraced = true;
            return;
        }
        if (major(device) == 0) return addAnonymous(device, whole, depth);
        const std::optional<fs::path> folder = sysfsFolderOf(device);
        if (!folder) {
            untraced = true;
            return;
        }
        std::error_code ec;
        if (fs::exists(*folder / "partition", ec)) {
            if (const auto disk = deviceNumberIn(folder->parent_path()))
                addDevice(*disk, false, depth + 1);
            else
                untraced = true;
            return;
        }
        if (major(device) == 7 || fs::exists(*folder / "loop", ec)) return addLoop(*folder, device, whole, depth);
        for (fs::directory_iterator it(*folder / "slaves", ec), end; !ec && it != end; it.increment(ec)) {
            if (const auto below = deviceNumberIn(it->path()))
                addDevice(*below, whole, depth + 1);
            else
                untraced = true;
        }
    }

    // Every device of the btrfs file system holding `pathOnIt` (/sys/fs/btrfs/<fsid>/devices/).
    void addBtrfs(const fs::path& pathOnIt, bool whole, int depth) {
        const int fd = ::open(pathOnIt.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        btrfs_ioctl_fs_info_args info {};
        const bool known = fd >= 0 && ::ioctl(fd, BTRFS_IOC_FS_INFO, &info) == 0;
        if (fd >= 0) ::close(fd);
        if (!known) {
            untraced = true;
            return;
        }
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
            if (!below) {
                untraced = true;
                continue;
            }
            ++devices;
            addDevice(*below, whole, depth + 1);
        }
        if (ec || devices == 0) untraced = true;
    }

    // Whether any of `other`'s nodes is one of these, read whole on at least one side.
    bool meets(const Reach& other) const {
        for (const auto& [node, whole] : nodes_) {
            auto it = other.nodes_.find(node);
            if (it != other.nodes_.end() && (whole || it->second)) return true;
        }
        return false;
    }

    // The devices of the file systems that hold image files reached.
    const std::set<dev_t>& imageHolders() const { return holders_; }

    bool untraced = false;
    bool onOverlay = false;  // an image file reached lies on an overlay

private:
    // True when the node is new, or now known to be read whole: worth walking (again).
    bool mark(const Node& node, bool whole) {
        auto [it, added] = nodes_.emplace(node, whole);
        if (added) return true;
        if (!whole || it->second) return false;
        it->second = true;
        return true;
    }

    void addLoop(const fs::path& folder, dev_t device, bool whole, int depth) {
        std::optional<LoopBacking> backing = backingAskedOfDevice(device);
        if (!backing) backing = backingReadFromSysfs(folder);
        if (!backing) {
            untraced = true;
            return;
        }
        if (backing->device) return addDevice(*backing->device, whole, depth + 1);
        mark({backing->fileDevice, backing->fileInode}, whole);
        holders_.insert(backing->fileDevice);
    }

    // A device number of no block device (FUSE, btrfs, overlay, tmpfs): the block devices
    // its mounts were made from, as the mount table has them.
    void addAnonymous(dev_t device, bool whole, int depth) {
        if (!table_) table_ = MountTable::current();
        for (const MountEntry& entry : table_->entries()) {
            if (entry.deviceNumber != device) continue;
            if (entry.fsType == "overlay") onOverlay = true;
            if (entry.fsType == "btrfs") {
                addBtrfs(entry.mountPoint, whole, depth);
            } else if (entry.source.rfind('/', 0) == 0) {
                struct stat st {};
                if (::stat(entry.source.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
                    addDevice(st.st_rdev, whole, depth + 1);
            }
        }
    }

    std::optional<MountTable>& table_;
    std::map<Node, bool> nodes_;  // read whole or not
    std::set<dev_t> holders_;
};

}  // namespace

std::optional<Doubt> ProofGround::judge(dev_t device, const fs::path& pathOnIt, dev_t cardDevice) {
    if (device == cardDevice) return std::nullopt;
    std::optional<MountTable> table;
    Reach drive(table);
    if (major(device) == 0) {
        struct statfs info {};
        if (::statfs(pathOnIt.c_str(), &info) != 0) return Doubt::unidentified;
        if (static_cast<long>(info.f_type) == overlayMagic) return Doubt::overlay;
        // A btrfs file's device number is its subvolume's, which the mount table may not name.
        if (static_cast<long>(info.f_type) == btrfsMagic) drive.addBtrfs(pathOnIt, true, 0);
    }
    drive.addDevice(device, true);
    Reach card(table);
    card.addDevice(cardDevice, true);
    // The same bytes as the card's, read another way.
    if (drive.meets(card)) return Doubt::viewOfCard;
    // Inside an image file held by the card (or by anything showing it), however deep.
    std::set<dev_t> seen;
    std::vector<dev_t> holders(drive.imageHolders().begin(), drive.imageHolders().end());
    bool untraced = drive.untraced;
    bool onOverlay = drive.onOverlay;
    for (size_t i = 0; i < holders.size(); ++i) {
        if (!seen.insert(holders[i]).second) continue;
        if (seen.size() > static_cast<size_t>(maxDepth)) return Doubt::unidentified;
        if (holders[i] == cardDevice) return Doubt::imageOnCard;
        Reach holder(table);
        holder.addDevice(holders[i], true);
        if (holder.meets(card)) return Doubt::imageOnCard;
        untraced = untraced || holder.untraced;
        onOverlay = onOverlay || holder.onOverlay;
        holders.insert(holders.end(), holder.imageHolders().begin(), holder.imageHolders().end());
    }
    if (onOverlay) return Doubt::overlay;
    if (untraced) return Doubt::unidentified;
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
        case Doubt::viewOfCard:
            return "on a second view of the card's own device";
        case Doubt::imageOnCard:
            return "inside a disk image stored on the card";
        case Doubt::unidentified:
            return "inside a disk image whose file this user can't locate, so it may be stored on the card";
    }
    return {};
}

std::string ProofGround::reasonKey(Doubt doubt) {
    switch (doubt) {
        case Doubt::overlay: return "overlay";
        case Doubt::viewOfCard: return "view_of_card";
        case Doubt::imageOnCard: return "image_on_card";
        case Doubt::unidentified: return "unidentified_image";
    }
    return {};
}

}  // namespace tessaline
