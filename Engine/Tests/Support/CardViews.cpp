#include "Support/CardViews.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <stdexcept>

namespace tessaline::testing {

namespace fs = std::filesystem;

ReadOnlyLoop::ReadOnlyLoop(const std::string& backing, uint64_t offset, uint64_t sizeLimit, bool partitions) {
    std::vector<std::string> argv{"losetup", "-r", "-f", "--show", "-o", std::to_string(offset)};
    if (sizeLimit > 0) argv.insert(argv.end(), {"--sizelimit", std::to_string(sizeLimit)});
    if (partitions) argv.push_back("-P");
    argv.push_back(backing);
    const CommandResult r = runCommand(argv);
    if (r.exitCode != 0) throw std::runtime_error("losetup failed: " + r.output);
    device_ = r.output;
    while (!device_.empty() && (device_.back() == '\n' || device_.back() == ' ')) device_.pop_back();
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

}  // namespace tessaline::testing
