#pragma once
// Second views of a volume's own bytes, for tests of what may prove a card: read-only loop
// devices over a device or an image file, block-device nodes made outside /dev, and read-only
// mounts of what they show. Root only; throw std::runtime_error when a tool fails.

#include "Support/TestSandbox.hpp"

#include "Tessaline/Volumes/ProofGround.hpp"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessaline::testing {

// Runs `argv` (no shell) and returns its output without trailing line breaks and spaces;
// throws std::runtime_error with the output when it fails.
std::string mustRun(const std::vector<std::string>& argv);

// A judgement by its key ("none" for no doubt), and the judgement of the file system at `path`
// (its device read with stat) against the card on `cardDevice`.
std::string doubtKey(std::optional<ProofGround::Doubt> doubt);
std::string judgedKey(const std::filesystem::path& path, dev_t cardDevice);

// A read-only loop device over `backing` (a device node or an image file), from `offset` bytes
// on, `sizeLimit` bytes long (0: to the end), its partitions read when `partitions`; detached
// when the object dies.
class ReadOnlyLoop {
public:
    explicit ReadOnlyLoop(const std::string& backing, uint64_t offset = 0, uint64_t sizeLimit = 0,
                          bool partitions = false);
    ~ReadOnlyLoop();
    ReadOnlyLoop(const ReadOnlyLoop&) = delete;
    ReadOnlyLoop& operator=(const ReadOnlyLoop&) = delete;
    const std::string& device() const { return device_; }

private:
    std::string device_;
};

// A writable loop device over `backing` from `offset` bytes on, `sizeLimit` bytes long (0: to
// the end); detached when the object dies.
class WritableLoop {
public:
    WritableLoop(const std::string& backing, uint64_t offset, uint64_t sizeLimit);
    ~WritableLoop();
    WritableLoop(const WritableLoop&) = delete;
    WritableLoop& operator=(const WritableLoop&) = delete;
    const std::string& device() const { return device_; }

private:
    std::string device_;
};

// The device number a node stands for (st_rdev).
dev_t deviceNumberOfNode(const std::string& node);

// A block-device node for `device` made with mknod at `node` (its folder is created); `node`.
std::filesystem::path nodeOutsideDev(const std::string& device, const std::filesystem::path& node);

// The file system on `source` mounted read-only at `target`: ext4 without replaying its
// journal (the card's own mount keeps it), exFAT through FUSE.
std::unique_ptr<ScopedMount> mountReadOnly(const std::string& fsType, const std::filesystem::path& source,
                                           const std::filesystem::path& target);

// A memory file system at `target` that every user may search: a place for disk images whose
// file every user can trace on any machine (the machine's own disk may itself be an image whose
// file lies outside what a user can see).
std::unique_ptr<ScopedMount> mountMemoryFolder(const std::filesystem::path& target);

// A btrfs subvolume made at `path` (which must not exist), with a device number of its own.
void makeBtrfsSubvolume(const std::filesystem::path& path);

// A file of `bytes` preallocated at `file` on a btrfs volume, never moved by the file system
// (no copy on write), and where its bytes start on the volume's single device.
uint64_t preallocatedSpace(const std::filesystem::path& file, uint64_t bytes);

// A FAT32 disk image of `sizeMiB` at `image` holding `files` (path inside the image → bytes),
// written through fusefat.
void makeFatImage(const std::filesystem::path& image, int sizeMiB,
                  const std::vector<std::pair<std::filesystem::path, std::string>>& files);

// The FAT image `image` mounted read-only through fusefat at `target`; the mount's source
// shows only the driver's name.
std::unique_ptr<ScopedMount> mountFatImage(const std::filesystem::path& image, const std::filesystem::path& target);

// A tar archive (POSIX ustar) at `archive` holding `files` (path inside the archive → bytes).
void makeTarArchive(const std::filesystem::path& archive,
                    const std::vector<std::pair<std::filesystem::path, std::string>>& files);

// Why the tests' own FUSE driver of tar archives can't run here; "" when it can (root, and
// the driver was built: it needs libfuse3).
std::string archiveFuseUnavailableReason();

// How the tests' own FUSE driver serves an archive: it reads the archive into memory and, unless
// `keepArchiveOpen`, closes it before mounting; it holds `log` open all along when given; the
// mount's source is `fsname` when given, else the archive's path.
struct ArchiveFuseOptions {
    bool keepArchiveOpen = false;
    std::filesystem::path log;
    std::string fsname;
};

// The tar archive `archive` mounted read-only at `target` (created) through the tests' own FUSE
// driver; unmounted, and the driver ended, when the object dies. Throws std::runtime_error.
class ArchiveFuseMount {
public:
    ArchiveFuseMount(const std::filesystem::path& archive, const std::filesystem::path& target,
                     const ArchiveFuseOptions& options = {});
    ~ArchiveFuseMount();
    ArchiveFuseMount(const ArchiveFuseMount&) = delete;
    ArchiveFuseMount& operator=(const ArchiveFuseMount&) = delete;
    const std::filesystem::path& target() const { return target_; }

private:
    std::filesystem::path target_;
};

// An erofs image of `files` (path inside → bytes) at `image`; with `blob`, its file data kept
// in chunks in that second image (mkfs.erofs --blobdev).
void makeErofs(const std::filesystem::path& image,
               const std::vector<std::pair<std::filesystem::path, std::string>>& files,
               const std::filesystem::path& blob = {});

// An erofs image mounted read-only at `target` (created) by mount(2) straight from a file, as a
// program does, with no loop device: `source` is the text given, resolved in `folder`, in a
// process holding `held` open as descriptor 777 when given. Unmounted when the object dies.
class ErofsFileMount {
public:
    ErofsFileMount(const std::string& source, const std::filesystem::path& target, const std::filesystem::path& folder,
                   const std::filesystem::path& held = {});
    ~ErofsFileMount();
    ErofsFileMount(const ErofsFileMount&) = delete;
    ErofsFileMount& operator=(const ErofsFileMount&) = delete;
    const std::filesystem::path& target() const { return target_; }
    // "" when mounted, else the kernel's reason.
    std::string failure() const;

private:
    std::filesystem::path target_;
    int error_ = 0;
};

}  // namespace tessaline::testing
