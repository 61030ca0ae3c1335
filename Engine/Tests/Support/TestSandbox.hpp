#pragma once
// Test fixtures shared by every engine test program: a private temporary folder per test,
// command running without a shell, and loop-mounted volumes that stand in for cards and
// drives (root only; tests skip with a printed reason elsewhere).

#include <gtest/gtest.h>

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tessaline::testing {

// A fresh folder under /tmp, removed with everything in it when the object dies.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

private:
    std::filesystem::path path_;
};

// A fixture giving each test its own TempFolder in `sandbox`.
class SandboxedTest : public ::testing::Test {
protected:
    TempFolder sandbox;
};

// Writes `bytes` to `path`, creating parent folders.
void writeFile(const std::filesystem::path& path, const std::string& bytes);
// Writes `size` bytes of a repeatable pattern drawn from `seed`.
void writePatternFile(const std::filesystem::path& path, size_t size, unsigned seed = 1);
std::string readFile(const std::filesystem::path& path);

// The ASC MHL schema the tests validate hash lists against, kept with the engine's tests
// (its folder is compiled in when the build is configured, wherever the build folder lies).
std::filesystem::path mhlSchemaFile();

struct CommandResult {
    int exitCode = -1;
    std::string output;  // stdout and stderr together
};
// Runs argv[0] (looked up in PATH) with the arguments, no shell; waits for it.
CommandResult runCommand(const std::vector<std::string>& argv);

// The device number of what `path` lies on; a test failure (and 0) where it can't be stat'ed.
dev_t deviceOf(const std::filesystem::path& path);
// True when `program` is found in PATH.
bool haveProgram(const std::string& program);

// Fills the volume holding `folder` until not one more byte fits, also for root (which may
// use the reserved blocks), with files named "filler…" in `folder`.
void fillVolume(const std::filesystem::path& folder);

// Something that is not a regular file, standing where a program's own file should be.
enum class SpecialFile { fifo, socket, folder, device };
inline constexpr SpecialFile allSpecialFiles[] = {SpecialFile::fifo, SpecialFile::socket, SpecialFile::folder,
                                                   SpecialFile::device};
// "FIFO", "socket", "folder", "device".
const char* specialFileName(SpecialFile kind);
// Puts `kind` at `path`, creating the parent folders: a FIFO (mkfifo), a bound UNIX socket,
// a folder, or a device (a link to /dev/zero, which never ends). Throws std::runtime_error.
void makeSpecialFile(SpecialFile kind, const std::filesystem::path& path);

bool runningAsRoot();
// True under AddressSanitizer: slow tests may shrink their data there.
bool sanitizedBuild();

// Runs `body` in a forked child and returns the text it returned. As root the child first
// becomes the unprivileged user nobody (65534), so file modes bind it as they bind a user;
// otherwise it keeps the current user. Throws std::runtime_error when the child fails or
// `body` throws (with its what()).
std::string runUnprivileged(const std::function<std::string()>& body);

// Skips the current test with a printed reason unless running as root.
#define TESSALINE_REQUIRE_ROOT()                                                          \
    do {                                                                                  \
        if (!::tessaline::testing::runningAsRoot())                                       \
            GTEST_SKIP() << "needs root to attach and mount loop devices; skipped";       \
    } while (0)

// A disk image attached to a loop device, formatted and mounted: a stand-in card or drive.
class LoopVolume {
public:
    // fsType: "ext4", "xfs", "btrfs", "vfat" (not mountable here: mount=false), "exfat"
    // (mounted through exfat-fuse). The disk image is made at `image` when given (its folder
    // must exist; it is left there), else in a folder of the volume's own. Throws
    // std::runtime_error with the tool's output on failure.
    LoopVolume(const std::string& fsType, int sizeMiB, const std::string& label, bool mount = true,
               const std::filesystem::path& image = {});
    ~LoopVolume();
    LoopVolume(const LoopVolume&) = delete;
    LoopVolume& operator=(const LoopVolume&) = delete;

    const std::filesystem::path& mountPoint() const { return mountPoint_; }
    const std::string& device() const { return device_; }
    const std::filesystem::path& image() const { return image_; }
    void unmount();
    void remount();
    // Detaches the volume at once, as a pulled drive, even while files on it are open
    // (umount -l); the file system goes when the last of them is closed.
    void unmountLazily();
    // Drops the kernel's cached pages of the device and of every file system.
    static void dropCaches();

private:
    TempFolder folder_;
    std::filesystem::path image_;
    std::filesystem::path mountPoint_;
    std::string device_;
    std::string fsType_;
    bool mounted_ = false;
};

}  // namespace tessaline::testing

namespace tessaline::testing {

// The text of a PDF file through pdftotext -layout (each drawn line stays one line; pages
// are separated by form feeds). Throws std::runtime_error when pdftotext fails.
std::string pdfText(const std::filesystem::path& pdf);

// Page count and first page size in points, through pdfinfo. Throws std::runtime_error.
struct PdfInfo {
    int pages = 0;
    double width = 0;
    double height = 0;
};
PdfInfo pdfInfo(const std::filesystem::path& pdf);

// The words of a PDF file with their boxes in points from the top left of their page, in
// pdftotext's reading order, through pdftotext -bbox. Throws std::runtime_error.
struct PdfWord {
    int page = 0;  // from 1
    double xMin = 0;
    double yMin = 0;
    double xMax = 0;
    std::string text;  // as pdftotext writes it, HTML-escaped
};
std::vector<PdfWord> pdfWords(const std::filesystem::path& pdf);

}  // namespace tessaline::testing

namespace tessaline::testing {

// A mount made by a test (a tmpfs, a bind mount, a second mount of a loop device), unmounted
// when the object dies. `arguments` follow "mount" ({"-t", "tmpfs", "tmpfs"}, {"--bind", src});
// the target folder is created. Throws std::runtime_error when mount fails.
class ScopedMount {
public:
    ScopedMount(const std::vector<std::string>& arguments, const std::filesystem::path& target);
    ~ScopedMount();
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;
    const std::filesystem::path& target() const { return target_; }
    void unmount();

private:
    std::filesystem::path target_;
    bool mounted_ = false;
};

// A disk image on a loop device with two partitions: the first an active swap area, which
// makes the whole disk one of the system's own disks, the second formatted ext4 and
// mounted. Stands in for a data partition on the system disk. Root only; throws
// std::runtime_error when a tool fails (sfdisk, partx, mkswap, swapon).
class SwapDiskVolume {
public:
    explicit SwapDiskVolume(const std::string& label);
    ~SwapDiskVolume();
    SwapDiskVolume(const SwapDiskVolume&) = delete;
    SwapDiskVolume& operator=(const SwapDiskVolume&) = delete;
    const std::filesystem::path& mountPoint() const { return mountPoint_; }
    const std::string& dataPartition() const { return dataPartition_; }

private:
    void attachPartitions(const std::string& label);
    void release();
    TempFolder folder_;
    std::filesystem::path mountPoint_;
    std::string device_;
    std::string swapPartition_;
    std::string dataPartition_;
    bool swapOn_ = false;
    bool mounted_ = false;
};

}  // namespace tessaline::testing
