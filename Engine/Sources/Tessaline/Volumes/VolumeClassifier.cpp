#include "Tessaline/Volumes/VolumeClassifier.hpp"

#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/MountTable.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

// Stacked device-mapper/md layers deeper than this are treated as unknown (internal).
constexpr int maxStackDepth = 8;

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

bool pathExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// The sysfs folder of a block device, with its links resolved
// ("/sys/devices/pci0000:00/.../block/sdb/sdb1"); empty when unknown.
fs::path sysfsFolder(dev_t device) {
    fs::path link = "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    auto resolved = canonicalExistingPath(link);
    return resolved ? *resolved : fs::path();
}

// Adds the whole disks under `folder` (a sysfs block device folder): the parent of a
// partition, the underlying disks of a dm/md device, else the disk itself.
// Returns false when the stack could not be followed.
bool collectWholeDisks(fs::path folder, int depth, std::set<fs::path>& disks) {
    if (folder.empty() || depth > maxStackDepth) return false;
    if (pathExists(folder / "partition")) folder = folder.parent_path();
    std::vector<fs::path> slaves;
    std::error_code ec;
    for (fs::directory_iterator it(folder / "slaves", ec), end; !ec && it != end; it.increment(ec)) {
        auto resolved = canonicalExistingPath(it->path());
        if (!resolved) return false;
        slaves.push_back(*resolved);
    }
    if (slaves.empty()) {
        disks.insert(folder);
        return true;
    }
    for (const fs::path& slave : slaves)
        if (!collectWholeDisks(slave, depth + 1, disks)) return false;
    return true;
}

std::set<fs::path> wholeDisksOf(dev_t device, bool* complete = nullptr) {
    std::set<fs::path> disks;
    bool ok = collectWholeDisks(sysfsFolder(device), 0, disks);
    if (complete) *complete = ok && !disks.empty();
    return disks;
}

bool hasBusAncestor(const fs::path& diskFolder) {
    static const std::set<std::string> externalBuses = {"usb", "ieee1394", "memstick", "pcmcia"};
    for (fs::path p = diskFolder; p.has_relative_path() && p != "/sys/devices"; p = p.parent_path()) {
        auto subsystem = canonicalExistingPath(p / "subsystem");
        if (subsystem && externalBuses.count(subsystem->filename().string())) return true;
        // Hot-plug ports (PCIe/Thunderbolt) mark the devices behind them "removable".
        if (p != diskFolder && firstLine(p / "removable") == "removable") return true;
    }
    return false;
}

struct DiskClass {
    bool external = false;
    bool removable = false;
};

DiskClass classifyDisk(const fs::path& diskFolder) {
    std::string name = diskFolder.filename().string();
    DiskClass result;
    if (name.rfind("loop", 0) == 0 || name.rfind("nbd", 0) == 0) {
        result.external = true;
        return result;
    }
    if (name.rfind("mmcblk", 0) == 0 && firstLine(diskFolder / "device" / "type") == "SD") {
        result.external = true;
        result.removable = true;
        return result;
    }
    if (firstLine(diskFolder / "removable") == "1") {
        result.external = true;
        result.removable = true;
        return result;
    }
    result.external = hasBusAncestor(diskFolder);
    return result;
}

std::optional<dev_t> deviceOfMount(const MountEntry& entry) {
    if (auto device = entry.blockDevice()) return device;
    if (!entry.isPseudo && !entry.isNetwork && major(entry.deviceNumber) != 0) return entry.deviceNumber;
    return std::nullopt;
}

// The whole disks that hold the system's own file systems and swap areas.
std::set<fs::path> systemDisks() {
    std::set<fs::path> disks;
    MountTable table = MountTable::current();
    auto addDiskOfPath = [&](const fs::path& path) {
        // A mount point is looked up without touching it: stat on a hung network mount
        // would block the caller.
        auto entry = table.mountedAt(path);
        if (!entry) {
            auto canonical = canonicalExistingPath(path);
            if (!canonical) return;
            entry = table.containing(*canonical);
        }
        if (!entry) return;
        if (auto device = deviceOfMount(*entry)) disks.merge(wholeDisksOf(*device));
    };
    for (const char* path : {"/", "/boot", "/usr", "/var", "/home"}) addDiskOfPath(path);
    // A mounted /boot/efi lives below /boot but is its own mount.
    for (const MountEntry& entry : table.entries())
        if (entry.mountPoint == "/boot/efi")
            if (auto device = deviceOfMount(entry)) disks.merge(wholeDisksOf(*device));
    std::ifstream swaps("/proc/swaps");
    std::string line;
    std::getline(swaps, line);  // header
    while (std::getline(swaps, line)) {
        std::istringstream fields(line);
        std::string name;
        fields >> name;
        if (name.empty()) continue;
        // /proc/swaps writes a space in a name as "\040".
        for (size_t at; (at = name.find("\\040")) != std::string::npos;) name.replace(at, 4, " ");
        struct stat st{};
        if (::stat(name.c_str(), &st) != 0) continue;
        if (S_ISBLK(st.st_mode))
            disks.merge(wholeDisksOf(st.st_rdev));
        else
            addDiskOfPath(name);  // a swap file: the disk holding it
    }
    return disks;
}

VolumeClass internalClass() { return VolumeClass{true, false, false}; }

}  // namespace

bool VolumeClassifier::isOnSystemDisk(dev_t device) {
    std::set<fs::path> system = systemDisks();
    for (const fs::path& disk : wholeDisksOf(device))
        if (system.count(disk)) return true;
    return false;
}

VolumeClass VolumeClassifier::classifyDevice(dev_t device) {
    bool complete = false;
    std::set<fs::path> disks = wholeDisksOf(device, &complete);
    if (!complete) return internalClass();
    std::set<fs::path> system = systemDisks();
    bool allExternal = true;
    bool allRemovable = true;
    for (const fs::path& disk : disks) {
        if (system.count(disk)) return internalClass();
        DiskClass diskClass = classifyDisk(disk);
        allExternal = allExternal && diskClass.external;
        allRemovable = allRemovable && diskClass.removable;
    }
    if (!allExternal) return internalClass();
    return VolumeClass{false, allRemovable, true};
}

VolumeClass VolumeClassifier::classifyDevicePath(const fs::path& devicePath) {
    struct stat st{};
    if (::stat(devicePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return internalClass();
    return classifyDevice(st.st_rdev);
}

VolumeClass VolumeClassifier::classifyMount(const MountEntry& entry) {
    if (entry.isNetwork) return VolumeClass{false, false, true};
    if (auto device = deviceOfMount(entry)) return classifyDevice(*device);
    return internalClass();
}

VolumeClass VolumeClassifier::classifyPath(const fs::path& path) {
    auto entry = mountEntryFor(path);
    if (!entry) return internalClass();
    return classifyMount(*entry);
}

}  // namespace tessaline
