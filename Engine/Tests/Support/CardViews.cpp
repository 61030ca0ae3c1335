#include "Support/CardViews.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <stdexcept>

namespace tessaline::testing {

namespace fs = std::filesystem;

namespace {

// The loop device attached by losetup with `options` over `backing`.
std::string attachedLoop(std::vector<std::string> options, const std::string& backing, uint64_t offset,
                         uint64_t sizeLimit) {
    std::vector<std::string> argv{"losetup", "-f", "--show", "-o", std::to_string(offset)};
    argv.insert(argv.end(), options.begin(), options.end());
    if (sizeLimit > 0) argv.insert(argv.end(), {"--sizelimit", std::to_string(sizeLimit)});
    argv.push_back(backing);
    const CommandResult r = runCommand(argv);
    if (r.exitCode != 0) throw std::runtime_error("losetup failed: " + r.output);
    std::string device = r.output;
    while (!device.empty() && (device.back() == '\n' || device.back() == ' ')) device.pop_back();
    return device;
}

}  // namespace

WritableLoop::WritableLoop(const std::string& backing, uint64_t offset, uint64_t sizeLimit)
    : device_(attachedLoop({}, backing, offset, sizeLimit)) {}

WritableLoop::~WritableLoop() { runCommand({"losetup", "-d", device_}); }

ReadOnlyLoop::ReadOnlyLoop(const std::string& backing, uint64_t offset, uint64_t sizeLimit, bool partitions) {
    std::vector<std::string> options{"-r"};
    if (partitions) options.push_back("-P");
    device_ = attachedLoop(options, backing, offset, sizeLimit);
    // Without udev the kernel's partition scan may leave the partitions unlisted until they are read again.
    if (partitions && !fs::exists("/sys/class/block/" + fs::path(device_).filename().string() + "p1"))
        runCommand({"partx", "-a", device_});
}

ReadOnlyLoop::~ReadOnlyLoop() { runCommand({"losetup", "-d", device_}); }

dev_t deviceNumberOfNode(const std::string& node) {
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) throw std::runtime_error("no block device: " + node);
    return st.st_rdev;
}

fs::path nodeOutsideDev(const std::string& device, const fs::path& node) {
    fs::create_directories(node.parent_path());
    if (::mknod(node.c_str(), S_IFBLK | 0600, deviceNumberOfNode(device)) != 0)
        throw std::runtime_error("mknod failed: " + node.string());
    return node;
}

std::unique_ptr<ScopedMount> mountReadOnly(const std::string& fsType, const fs::path& source, const fs::path& target) {
    if (fsType == "exfat")
        return std::make_unique<ScopedMount>(std::vector<std::string>{"-t", "exfat-fuse", "-o", "ro", source}, target);
    return std::make_unique<ScopedMount>(std::vector<std::string>{"-t", fsType, "-o", "ro,noload", source}, target);
}

namespace {

std::string mustRun(const std::vector<std::string>& argv) {
    const CommandResult r = runCommand(argv);
    if (r.exitCode != 0) throw std::runtime_error(argv.front() + " failed: " + r.output);
    return r.output;
}

}  // namespace

std::unique_ptr<ScopedMount> mountMemoryFolder(const fs::path& target) {
    auto mount = std::make_unique<ScopedMount>(
        std::vector<std::string>{"-t", "tmpfs", "-o", "size=512M,mode=0755", "tmpfs"}, target);
    for (fs::path folder = target.parent_path(); folder.has_relative_path(); folder = folder.parent_path())
        fs::permissions(folder, fs::perms::others_exec, fs::perm_options::add);
    return mount;
}

void makeBtrfsSubvolume(const fs::path& path) { mustRun({"btrfs", "subvolume", "create", path.string()}); }

uint64_t preallocatedSpace(const fs::path& file, uint64_t bytes) {
    mustRun({"touch", file.string()});
    mustRun({"chattr", "+C", file.string()});
    mustRun({"fallocate", "-l", std::to_string(bytes), file.string()});
    // The swap-file map gives the physical start in pages of 4 KiB with -r.
    const std::string pages = mustRun({"btrfs", "inspect-internal", "map-swapfile", "-r", file.string()});
    return std::stoull(pages) * 4096;
}

void makeFatImage(const fs::path& image, int sizeMiB, const std::vector<std::pair<fs::path, std::string>>& files) {
    mustRun({"truncate", "-s", std::to_string(sizeMiB) + "M", image.string()});
    mustRun({"mkfs.vfat", "-F", "32", image.string()});
    TempFolder folder;
    const fs::path target = folder.path() / "fat";
    fs::create_directories(target);
    mustRun({"fusefat", "-o", "rw+", image.string(), target.string()});
    try {
        for (const auto& [path, bytes] : files) writeFile(target / path, bytes);
    } catch (...) {
        runCommand({"umount", target.string()});
        throw;
    }
    mustRun({"umount", target.string()});
}

std::unique_ptr<ScopedMount> mountFatImage(const fs::path& image, const fs::path& target) {
    return std::make_unique<ScopedMount>(std::vector<std::string>{"-t", "fuse.fusefat", "-o", "ro", image}, target);
}

}  // namespace tessaline::testing
