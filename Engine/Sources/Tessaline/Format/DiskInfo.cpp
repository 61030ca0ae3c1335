#include "Tessaline/Format/DiskInfo.hpp"

#include "Tessaline/Format/BlkidRecord.hpp"
#include "Tessaline/Format/BlockDeviceRecord.hpp"
#include "Tessaline/Format/DriveFormatError.hpp"
#include "Tessaline/Format/MountRecord.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Volumes/UdevDatabase.hpp"
#include "Tessaline/Volumes/VolumeClassifier.hpp"

#include <sys/stat.h>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

constexpr const char* lsblkColumns = "PATH,KNAME,PKNAME,TYPE,SIZE,RM,HOTPLUG,TRAN,MOUNTPOINTS";
// Partitions, dm and md layers stacked deeper than this are not followed.
constexpr int maxParentDepth = 8;

std::optional<BlockDeviceRecord> lsblkDevice(const std::string& device, const DiskTool& tool) {
    auto records = BlockDeviceRecord::fromLsblkJson(
        tool.output(tool.programs.lsblk, {"-J", "-b", "-o", lsblkColumns, device}));
    if (!records) return std::nullopt;
    for (const auto& r : *records)
        if (r.path == device) return r;
    return std::nullopt;
}

std::optional<dev_t> blockDeviceNumber(const std::string& device) {
    struct stat st{};
    if (device.rfind("/dev/", 0) != 0 || ::stat(device.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return std::nullopt;
    return st.st_rdev;
}

}  // namespace

std::string DiskInfo::userVisibleName(const std::string& fsType, const std::optional<std::string>& version) {
    if (fsType.empty()) return "unknown";
    if (fsType == "exfat") return "ExFAT";
    if (fsType == "vfat" || fsType == "msdos") {
        if (version == "FAT12" || version == "FAT16") return "MS-DOS (" + *version + ")";
        return "MS-DOS (FAT32)";
    }
    if (fsType == "hfsplus") return "Mac OS Extended";
    if (fsType == "apfs") return "APFS";
    if (fsType == "ntfs" || fsType == "ntfs3") return "NTFS";
    // Any FUSE file system on a block device (exfat-fuse, ntfs-3g, fusefat): names none.
    if (fsType == "fuseblk") return "unknown";
    return fsType;
}

std::vector<std::string> DiskInfo::mountPointsOf(const std::string& device, const DiskTool& tool) {
    ToolRun run = tool.run(tool.programs.findmnt, {"-J", "--nofsroot", "-o", "SOURCE,TARGET", "--source", device});
    // Exit status 1 with no output: nothing is mounted from the device.
    if (run.exitStatus == 1 && run.signal == 0 && run.standardOutput.empty()) return {};
    if (!run.succeeded()) throw DriveFormatError::diskutilFailed(DiskTool::failureText(run));
    auto records = MountRecord::fromFindmntJson(run.standardOutput);
    if (!records) throw DriveFormatError::diskutilFailed("findmnt gave output that could not be read.");
    std::vector<std::string> targets;
    for (const auto& r : *records)
        if (r.source == device && !r.target.empty()) targets.push_back(r.target);
    return targets;
}

DiskInfo DiskInfo::read(const fs::path& volumeAt, const DiskTool& tool) {
    const std::string shownPath = toDisplayUtf8(volumeAt);
    const std::string path = normalizedPath(volumeAt).native();

    // 1. The mount at exactly this path; a folder inside a volume is not a volume.
    ToolRun found = tool.run(tool.programs.findmnt, {"-J", "-b", "--nofsroot", "-o",
                                                     "SOURCE,TARGET,FSTYPE,LABEL,UUID,MAJ:MIN,FSROOT", "--mountpoint", path});
    if (!found.succeeded()) {
        if (found.exitStatus == 1 && found.signal == 0 && found.standardOutput.empty())
            throw DriveFormatError::cannotInspect(shownPath);
        throw DriveFormatError::diskutilFailed(DiskTool::failureText(found));
    }
    auto mounts = MountRecord::fromFindmntJson(found.standardOutput);
    if (!mounts || mounts->empty()) throw DriveFormatError::cannotInspect(shownPath);
    const MountRecord mount = mounts->back();  // of stacked mounts, the visible one
    // A bind mount of a folder or a btrfs subvolume is not the whole volume.
    if (mount.target != path || mount.fsRoot != std::optional<std::string>("/")) throw DriveFormatError::cannotInspect(shownPath);

    // 2. Only a real block device may ever reach mkfs (no tmpfs, overlay, network, FUSE daemon).
    auto deviceNumber = blockDeviceNumber(mount.source);
    if (!deviceNumber) throw DriveFormatError::cannotInspect(shownPath);

    // 3. The device and the whole disk holding it.
    auto device = lsblkDevice(mount.source, tool);
    if (!device || (device->type != "part" && device->type != "disk" && device->type != "loop"))
        throw DriveFormatError::cannotInspect(shownPath);
    BlockDeviceRecord disk = *device;
    for (int depth = 0; disk.parentKernelName; ++depth) {
        auto parent = depth < maxParentDepth ? lsblkDevice("/dev/" + *disk.parentKernelName, tool) : std::nullopt;
        if (!parent) throw DriveFormatError::cannotInspect(shownPath);
        disk = *parent;
    }

    // 4. The file system itself. lsblk shows no label or UUID without udev, findmnt does;
    // a low-level probe (root only) reads the superblock and knows the type behind "fuseblk".
    BlkidRecord probe;
    ToolRun probed = tool.run(tool.programs.blkid, {"-p", "-o", "export", mount.source});
    if (probed.succeeded()) probe = BlkidRecord::fromExport(probed.standardOutput);
    // The udev database, which any user can read where a udev daemon runs (as on every
    // desktop), knows the type too. The mount's own type names a kernel file system, but
    // "fuseblk" is any FUSE file system on a block device and names none.
    const std::optional<std::string> udevType = udevProperty(*deviceNumber, "ID_FS_TYPE");
    const std::optional<std::string> mountType =
        mount.fsType.empty() || mount.fsType == "fuseblk" ? std::nullopt : std::optional(mount.fsType);

    DiskInfo info;
    info.deviceIdentifier = device->path;
    info.volumeName = mount.label && !mount.label->empty() ? mount.label : probe.label;
    if (info.volumeName && info.volumeName->empty()) info.volumeName.reset();
    info.mountPoint = mount.target;
    info.totalSize = device->sizeBytes;
    info.uuid = probe.uuid ? probe.uuid : mount.uuid;
    if (info.uuid && info.uuid->empty()) info.uuid.reset();
    // What the re-check before formatting compares with the superblock: the probe's reading
    // first, since the udev database may lag behind a file system made a moment ago.
    info.fsType = probe.type ? probe.type : udevType ? udevType : mountType;
    // What the user is shown: the source every user can read first.
    if (udevType)
        info.filesystemUserVisibleName = userVisibleName(*udevType, udevProperty(*deviceNumber, "ID_FS_VERSION"));
    else if (probe.type)
        info.filesystemUserVisibleName = userVisibleName(*probe.type, probe.version);
    else
        info.filesystemUserVisibleName = userVisibleName(mountType.value_or(""), std::nullopt);
    info.deviceType = device->type;
    info.wholeDisk = disk.path;

    VolumeClass volumeClass = VolumeClassifier::classifyDevice(*deviceNumber);
    info.internal = volumeClass.isInternal;
    info.ejectable = volumeClass.isEjectable;
    info.removableMedia = disk.removable;
    info.onSystemDisk = VolumeClassifier::isOnSystemDisk(*deviceNumber);
    return info;
}

}  // namespace tessaline
