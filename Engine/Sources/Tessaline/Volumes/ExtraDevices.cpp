#include "Tessaline/Volumes/ExtraDevices.hpp"

#include "Tessaline/Volumes/BlockDeviceNode.hpp"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

// The kernel's task name is cut to this many characters.
constexpr size_t taskNameLength = 15;
constexpr uint64_t superblockOffset = 1024;  // erofs and f2fs alike
constexpr uint32_t erofsMagic = 0xE0F5E1E2;
constexpr uint32_t erofsDeviceTable = 0x8;  // EROFS_FEATURE_INCOMPAT_DEVICE_TABLE
constexpr uint32_t f2fsMagic = 0xF2F52010;
constexpr size_t f2fsDevicesOffset = 2201;  // devs[0].path in struct f2fs_super_block (packed)

std::optional<std::string> firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return line;
}

// The kernel's name of a block device ("loop3", "sdb1"), from its sysfs folder.
std::optional<std::string> kernelName(dev_t device) {
    std::error_code ec;
    const fs::path folder =
        fs::canonical("/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device)), ec);
    if (ec) return std::nullopt;
    return folder.filename().string();
}

std::optional<dev_t> numberOfKernelName(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name.front() == '.') return std::nullopt;
    const auto text = firstLine(fs::path("/sys/class/block") / name / "dev");
    unsigned major = 0, minor = 0;
    if (!text || std::sscanf(text->c_str(), "%u:%u", &major, &minor) != 2) return std::nullopt;
    return makedev(major, minor);
}

uint32_t little32(const unsigned char* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

// `length` bytes of the device's superblock; nullopt where the device can't be read.
std::optional<std::string> superblockOf(dev_t device, size_t length) {
    const std::optional<fs::path> node = blockDeviceNode(device);
    if (!node) return std::nullopt;
    const int fd = ::open(node->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::string bytes(length, '\0');
    const ssize_t got = ::pread(fd, bytes.data(), length, superblockOffset);
    ::close(fd);
    if (got != static_cast<ssize_t>(length)) return std::nullopt;
    return bytes;
}

void addExt4Journal(const std::string& type, dev_t device, ExtraDevices& extra) {
    const std::optional<std::string> name = kernelName(device);
    const auto task = name ? firstLine(fs::path("/sys/fs/ext4") / *name / "journal_task") : std::nullopt;
    if (!task) {
        // ext2 served by a driver of its own, which keeps no journal.
        extra.unfollowed = type != "ext2" || !name;
        return;
    }
    if (*task == "<none>") return;  // no journal
    // An internal journal is named "<dev>-<inode>" in /proc/fs/jbd2, which every user may list.
    const std::string internal = *name + "-";
    auto isInternal = [&internal](const std::string& journal) {
        return journal.size() > internal.size() && journal.compare(0, internal.size(), internal) == 0 &&
               std::all_of(journal.begin() + static_cast<std::ptrdiff_t>(internal.size()), journal.end(),
                           [](char c) { return c >= '0' && c <= '9'; });
    };
    std::error_code ec;
    for (fs::directory_iterator it("/proc/fs/jbd2", ec), end; !ec && it != end; it.increment(ec))
        if (isInternal(it->path().filename().string())) return;
    // An external one is named by its device: its journal thread is "jbd2/<journal device>".
    const auto thread = firstLine("/proc/" + *task + "/comm");
    static constexpr std::string_view prefix = "jbd2/";
    const bool cut = thread && thread->size() >= taskNameLength;
    const std::optional<dev_t> named = thread && !cut && thread->compare(0, prefix.size(), prefix) == 0
                                           ? numberOfKernelName(thread->substr(prefix.size()))
                                           : std::nullopt;
    if (named)
        extra.devices.push_back(*named);
    else
        extra.unfollowed = true;
}

bool hasOption(const std::string& options, std::string_view key) {
    size_t start = 0;
    while (start <= options.size()) {
        const size_t end = std::min(options.find(',', start), options.size());
        if (options.compare(start, key.size(), key) == 0 && end - start >= key.size()) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

ExtraDevices extraDevicesOf(const MountEntry& entry, dev_t device) {
    ExtraDevices extra;
    const std::string& type = entry.fsType;
    if (type == "ext4" || type == "ext3" || type == "ext2") {
        addExt4Journal(type, device, extra);
    } else if (type == "xfs") {
        extra.unfollowed = hasOption(entry.superOptions, "logdev=") || hasOption(entry.superOptions, "rtdev=");
    } else if (type == "erofs") {
        const auto block = superblockOf(device, 128);
        const auto* bytes = block ? reinterpret_cast<const unsigned char*>(block->data()) : nullptr;
        // feature_incompat at 80, extra_devices at 86.
        extra.unfollowed = !bytes || little32(bytes) != erofsMagic || (little32(bytes + 80) & erofsDeviceTable) != 0 ||
                           bytes[86] != 0 || bytes[87] != 0;
    } else if (type == "f2fs") {
        const auto block = superblockOf(device, f2fsDevicesOffset + 1);
        const auto* bytes = block ? reinterpret_cast<const unsigned char*>(block->data()) : nullptr;
        extra.unfollowed = !bytes || little32(bytes) != f2fsMagic || bytes[f2fsDevicesOffset] != 0;
    }
    return extra;
}

}  // namespace tessaline
