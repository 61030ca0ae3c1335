#include "Tessaline/Volumes/DeviceReach.hpp"

#include "Tessaline/Volumes/BlockDeviceNode.hpp"
#include "Tessaline/Volumes/ExtraDevices.hpp"
#include "Tessaline/Volumes/FuseServer.hpp"
#include "Tessaline/Volumes/ImageSignature.hpp"

#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

// Devices stacked deeper than this are not followed and count as untraced.
constexpr int maxDepth = 16;
constexpr uint64_t sectorBytes = 512;
constexpr long overlayMagic = 0x794c7630;  // OVERLAYFS_SUPER_MAGIC
constexpr long btrfsMagic = 0x9123683e;    // BTRFS_SUPER_MAGIC

std::optional<std::string> firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return line;
}

std::optional<uint64_t> numberIn(const fs::path& file) {
    const auto text = firstLine(file);
    unsigned long long value = 0;
    if (!text || std::sscanf(text->c_str(), "%llu", &value) != 1) return std::nullopt;
    return value;
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
    fs::path folder =
        fs::canonical("/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device)), ec);
    if (ec) return std::nullopt;
    return folder;
}

// A file system whose files lie in memory, are made up by the kernel, or come over a network:
// no device of this machine beneath it.
bool readsNoDeviceOfThisMachine(const MountEntry& entry) {
    static const std::set<std::string> types{"tmpfs",  "ramfs", "devtmpfs", "hugetlbfs", "nfs",  "nfs4",
                                             "cifs",   "smb3",  "smbfs",    "9p",        "virtiofs", "ceph",
                                             "afs",    "coda",  "vboxsf",   "orangefs",  "ncpfs"};
    return entry.isPseudo || entry.isNetwork || types.count(entry.fsType) != 0;
}

uint64_t plus(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// `extent` of a device that starts `offset` bytes into what lies below it and shows at most
// `length` bytes of it (UINT64_MAX: all after the offset), as a range of what lies below.
DeviceReach::Extent below(DeviceReach::Extent extent, uint64_t offset, uint64_t length) {
    const uint64_t limit = plus(offset, length);
    return {std::min(plus(offset, extent.begin), limit), std::min(plus(offset, extent.end), limit)};
}

// What a loop device reads: a block device, or a file (the device holding it and its inode).
struct LoopBacking {
    std::optional<dev_t> device;
    dev_t fileDevice = 0;
    ino_t fileInode = 0;
    fs::path path;  // the file's path where this user can reach it, else ""
};

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
    // A regular file has no rdev; a device node has the number of the device it stands for.
    if (info.lo_rdevice != 0) return LoopBacking{static_cast<dev_t>(info.lo_rdevice), 0, 0};
    return LoopBacking{std::nullopt, static_cast<dev_t>(info.lo_device), static_cast<ino_t>(info.lo_inode)};
}

// The path the kernel gives for the backing file now (renames followed; " (deleted)" once
// unlinked, which is no path to look up), looked up again. Read whole: a name may hold a
// line break.
std::optional<LoopBacking> backingReadFromSysfs(const fs::path& folder) {
    std::ifstream in(folder / "loop" / "backing_file", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!text.empty() && text.back() == '\n') text.pop_back();
    static const std::string deleted = " (deleted)";
    if (text.empty() || text.front() != '/' ||
        (text.size() > deleted.size() && text.compare(text.size() - deleted.size(), deleted.size(), deleted) == 0))
        return std::nullopt;
    struct stat st {};
    if (::stat(text.c_str(), &st) != 0) return std::nullopt;
    if (S_ISBLK(st.st_mode)) return LoopBacking{st.st_rdev, 0, 0, {}};
    if (S_ISREG(st.st_mode)) return LoopBacking{std::nullopt, st.st_dev, st.st_ino, text};
    return std::nullopt;
}

// The device's backing, asked of the device where it opens, else read from sysfs. A file
// asked of the device gets its path from sysfs only when that path leads to the very file.
std::optional<LoopBacking> loopBacking(const fs::path& folder, dev_t device) {
    std::optional<LoopBacking> asked = backingAskedOfDevice(device);
    std::optional<LoopBacking> read = backingReadFromSysfs(folder);
    if (!asked) return read;
    if (!asked->device && read && !read->device && read->fileDevice == asked->fileDevice &&
        read->fileInode == asked->fileInode)
        asked->path = read->path;
    return asked;
}

}  // namespace

bool DeviceReach::meets(const DeviceReach& other) const {
    for (const auto& [node, extents] : nodes_) {
        auto it = other.nodes_.find(node);
        if (it == other.nodes_.end()) continue;
        for (const Extent& mine : extents)
            for (const Extent& theirs : it->second)
                if (mine.meets(theirs)) return true;
    }
    return false;
}

bool DeviceReach::mark(const Node& node, Extent extent) {
    std::vector<Extent>& extents = nodes_[node];
    for (const Extent& known : extents)
        if (known.holds(extent)) return false;
    extents.push_back(extent);
    return true;
}

void DeviceReach::add(dev_t device, Extent extent, int depth, const fs::path& pathOnIt) {
    if (!mark({device, 0}, extent)) return;
    if (depth > maxDepth) {
        untraced = true;
        return;
    }
    if (major(device) == 0) return addAnonymous(device, depth, pathOnIt);
    const std::optional<fs::path> folder = sysfsFolderOf(device);
    if (!folder) {
        untraced = true;
        return;
    }
    std::error_code ec;
    if (fs::exists(*folder / "partition", ec)) {
        const auto disk = deviceNumberIn(folder->parent_path());
        const auto start = numberIn(*folder / "start");
        const auto size = numberIn(*folder / "size");
        if (!disk) {
            untraced = true;
            return;
        }
        // Without its place on the disk, the partition counts as the whole disk.
        const Extent onDisk = start && size ? below(extent, *start * sectorBytes, *size * sectorBytes) : Extent{};
        return add(*disk, onDisk, depth + 1);
    }
    if (major(device) == 7 || fs::exists(*folder / "loop", ec)) return addLoop(*folder, device, extent, depth);
    for (fs::directory_iterator it(*folder / "slaves", ec), end; !ec && it != end; it.increment(ec)) {
        if (const auto member = deviceNumberIn(it->path()))
            add(*member, Extent{}, depth + 1);
        else
            untraced = true;
    }
}

void DeviceReach::addLoop(const fs::path& folder, dev_t device, Extent extent, int depth) {
    const std::optional<LoopBacking> backing = loopBacking(folder, device);
    if (!backing) {
        untraced = true;
        return;
    }
    // Without its offset and size limit (0: none), the loop device counts as reading all of its backing.
    const auto offset = numberIn(folder / "loop" / "offset");
    const auto limit = numberIn(folder / "loop" / "sizelimit");
    const Extent read = offset && limit ? below(extent, *offset, *limit == 0 ? UINT64_MAX : *limit) : Extent{};
    if (backing->device) return add(*backing->device, read, depth + 1);
    addFile(backing->fileDevice, backing->fileInode, read, backing->path);
}

void DeviceReach::addFile(dev_t fileDevice, ino_t inode, Extent extent, const fs::path& path) {
    mark({fileDevice, inode}, extent);
    fs::path& known = holders_[fileDevice];
    if (known.empty()) known = path;
}

void DeviceReach::addFileSystem(dev_t device, const fs::path& pathOnIt) {
    add(device, Extent{}, 0, pathOnIt);
    if (major(device) == 0) return;
    if (!table_) table_ = MountTable::current();
    for (const MountEntry& entry : table_->entries()) {
        if (entry.deviceNumber != device || entry.isFuse()) continue;
        const ExtraDevices extra = extraDevicesOf(entry, device);
        for (const dev_t member : extra.devices) add(member, Extent{}, 1);
        unfollowed = unfollowed || extra.unfollowed;
        return;
    }
}

void DeviceReach::addAnonymous(dev_t device, int depth, const fs::path& pathOnIt) {
    // What a path on it shows, while it still lies on this device.
    if (!pathOnIt.empty()) {
        struct stat st {};
        struct statfs info {};
        if (::stat(pathOnIt.c_str(), &st) == 0 && st.st_dev == device && ::statfs(pathOnIt.c_str(), &info) == 0) {
            if (static_cast<long>(info.f_type) == overlayMagic) {
                onOverlay = true;
                return;
            }
            if (static_cast<long>(info.f_type) == btrfsMagic) return addBtrfs(pathOnIt, depth);
        }
    }
    if (!table_) table_ = MountTable::current();
    bool named = false;
    for (const MountEntry& entry : table_->entries()) {
        if (entry.deviceNumber != device) continue;
        named = true;
        if (entry.fsType == "overlay") {
            onOverlay = true;
        } else if (entry.fsType == "btrfs") {
            addBtrfs(entry.mountPoint, depth);
        } else if (entry.isFuse()) {
            addFuse(entry, device, depth);
        } else if (!readsNoDeviceOfThisMachine(entry)) {
            // A kernel file system with no block device of its own, made from what its source
            // text named when it was mounted: a lead the kernel ties to nothing, which may name
            // another file now, or none. Its bytes can't be followed.
            struct stat st {};
            const bool fromFile = entry.fsType == "erofs" || entry.source.rfind("/proc/", 0) == 0 ||
                                  (::stat(entry.source.c_str(), &st) == 0 && S_ISREG(st.st_mode));
            (fromFile ? fileUnfollowed : unfollowed) = true;
        }
    }
    if (named) return;
    // A btrfs subvolume's own number, the top-level one's included: a btrfs mount whose root carries it.
    for (const MountEntry& entry : table_->entries()) {
        struct stat st {};
        if (entry.fsType == "btrfs" && ::stat(entry.mountPoint.c_str(), &st) == 0 && st.st_dev == device)
            return addBtrfs(entry.mountPoint, depth);
    }
    unfollowed = true;
}

void DeviceReach::addFuse(const MountEntry& entry, dev_t device, int depth) {
    if (isFuseOverlay(entry)) {
        onOverlay = true;
        return;
    }
    if (isPassThroughFuse(entry)) return;
    // A driver of a disk image or archive reads it anywhere: its image counts as read whole.
    // The image is a file its serving program holds: the very file its source names, or one
    // that carries an image's signature. Its other files (a log, a cache) are no image, and
    // a source the program does not hold is only text.
    const std::optional<FuseServerFiles> server = fuseServerFiles(minor(device));
    struct stat source {};
    const bool sourceIsNode = entry.source.rfind('/', 0) == 0 && ::stat(entry.source.c_str(), &source) == 0 &&
                              (S_ISREG(source.st_mode) || S_ISBLK(source.st_mode));
    bool located = false;
    for (const fs::path& file : server ? server->files : std::vector<fs::path>{}) {
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0) continue;
        const bool isSource = sourceIsNode && (S_ISBLK(st.st_mode) ? S_ISBLK(source.st_mode) && st.st_rdev == source.st_rdev
                                                                   : S_ISREG(source.st_mode) && st.st_dev == source.st_dev &&
                                                                         st.st_ino == source.st_ino);
        if (!isSource && !carriesImageSignature(file)) continue;
        if (S_ISBLK(st.st_mode))
            add(st.st_rdev, Extent{}, depth + 1);
        else
            addFile(st.st_dev, st.st_ino, Extent{}, file);
        located = true;
    }
    if (!located) fuseUnlocated = true;
}

void DeviceReach::addBtrfs(const fs::path& pathOnIt, int depth) {
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
        const std::optional<dev_t> member = deviceNumberIn(it->path());
        if (!member) {
            untraced = true;
            continue;
        }
        ++devices;
        add(*member, Extent{}, depth + 1);
    }
    if (ec || devices == 0) untraced = true;
}

}  // namespace tessaline
