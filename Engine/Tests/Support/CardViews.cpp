#include "Support/CardViews.hpp"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

std::string mustRun(const std::vector<std::string>& argv) {
    const CommandResult r = runCommand(argv);
    if (r.exitCode != 0) throw std::runtime_error(argv.front() + " failed: " + r.output);
    std::string out = r.output;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

std::string doubtKey(std::optional<ProofGround::Doubt> doubt) {
    return doubt ? ProofGround::reasonKey(*doubt) : std::string("none");
}

std::string judgedKey(const fs::path& path, dev_t cardDevice) {
    return doubtKey(ProofGround::judge(deviceOf(path), path, cardDevice));
}

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

namespace {

// `value` in octal, `width` - 1 digits and a NUL, as a tar header field.
void putOctal(char* field, size_t width, uint64_t value) {
    std::snprintf(field, width, "%0*llo", static_cast<int>(width - 1), static_cast<unsigned long long>(value));
}

}  // namespace

void makeTarArchive(const fs::path& archive, const std::vector<std::pair<fs::path, std::string>>& files) {
    std::string bytes;
    for (const auto& [path, content] : files) {
        const std::string name = path.relative_path().string();
        if (name.size() >= 100) throw std::runtime_error("name too long for a plain tar header: " + name);
        char header[512] = {};
        std::memcpy(header, name.data(), name.size());
        putOctal(header + 100, 8, 0644);
        putOctal(header + 108, 8, 0);
        putOctal(header + 116, 8, 0);
        putOctal(header + 124, 12, content.size());
        putOctal(header + 136, 12, 1700000000);
        header[156] = '0';
        std::memcpy(header + 257, "ustar\0" "00", 8);
        std::memset(header + 148, ' ', 8);
        unsigned sum = 0;
        for (unsigned char c : header) sum += c;
        std::snprintf(header + 148, 8, "%06o", sum);
        bytes.append(header, sizeof header);
        bytes += content;
        bytes.append((512 - content.size() % 512) % 512, '\0');
    }
    bytes.append(1024, '\0');
    writeFile(archive, bytes);
}

std::string archiveFuseUnavailableReason() {
#ifdef TESSALINE_TEST_ARCHIVE_FUSE
    if (!runningAsRoot()) return "needs root to mount the tests' own FUSE driver; skipped";
    return {};
#else
    return "the tests' own FUSE driver was not built (libfuse3 is not installed); skipped";
#endif
}

ArchiveFuseMount::ArchiveFuseMount(const fs::path& archive, const fs::path& target, const ArchiveFuseOptions& options)
    : target_(target) {
#ifdef TESSALINE_TEST_ARCHIVE_FUSE
    fs::create_directories(target_);
    std::vector<std::string> argv{TESSALINE_TEST_ARCHIVE_FUSE};
    if (options.keepArchiveOpen) argv.push_back("--keep");
    if (!options.log.empty()) argv.insert(argv.end(), {"--log", options.log.string()});
    const std::string fsname = options.fsname.empty() ? archive.string() : options.fsname;
    argv.insert(argv.end(), {archive.string(), target_.string(), "-o", "ro,subtype=tararchive,fsname=" + fsname});
    // The driver goes to the background once mounted.
    mustRun(argv);
#else
    (void)archive;
    (void)options;
    throw std::runtime_error(archiveFuseUnavailableReason());
#endif
}

ArchiveFuseMount::~ArchiveFuseMount() {
    if (runCommand({"umount", target_.string()}).exitCode != 0) runCommand({"umount", "-l", target_.string()});
}

void makeErofs(const fs::path& image, const std::vector<std::pair<fs::path, std::string>>& files,
               const fs::path& blob) {
    TempFolder content;
    for (const auto& [path, bytes] : files) writeFile(content.path() / path, bytes);
    std::vector<std::string> argv{"mkfs.erofs", "--quiet"};
    if (!blob.empty()) argv.insert(argv.end(), {"--chunksize=4096", "--blobdev=" + blob.string()});
    argv.insert(argv.end(), {image.string(), content.path().string()});
    mustRun(argv);
}

ErofsFileMount::ErofsFileMount(const std::string& source, const fs::path& target, const fs::path& folder,
                               const fs::path& held)
    : target_(target) {
    fs::create_directories(target);
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(errno);
        if (!held.empty()) {
            const int fd = ::open(held.c_str(), O_RDONLY);
            if (fd < 0 || ::dup2(fd, 777) < 0) ::_exit(errno);
        }
        ::_exit(::mount(source.c_str(), target.c_str(), "erofs", MS_RDONLY, nullptr) == 0 ? 0 : errno);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    error_ = WIFEXITED(status) ? WEXITSTATUS(status) : EINTR;
}

ErofsFileMount::~ErofsFileMount() {
    if (error_ == 0) ::umount2(target_.c_str(), MNT_DETACH);
}

std::string ErofsFileMount::failure() const { return error_ == 0 ? std::string() : std::strerror(error_); }

}  // namespace tessaline::testing
