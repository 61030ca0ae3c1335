#include "Tessaline/Copy/DestinationRoot.hpp"

#include "Tessaline/CardPrep/CardFileComparison.hpp"
#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Copy/DestinationNameFault.hpp"
#include "Tessaline/Copy/SeamFd.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

const std::string folderFailurePrefix = "Couldn't create destination folder: ";

// The nearest folder of `path` that exists (`path` itself when it does).
fs::path nearestExisting(const fs::path& path) {
    fs::path probe = normalizedPath(path);
    for (;;) {
        struct stat st{};
        if (::stat(probe.c_str(), &st) == 0) return probe;
        if (!probe.has_relative_path()) return probe;
        probe = probe.parent_path();
    }
}

// Whether looking up `path` or a folder above it, up to the nearest existing one, fails with
// an error of a device that is gone rather than a name that is missing: a FUSE drive whose
// daemon died answers ENOTCONN at its mount point, a drive that vanished under its mount
// ENODEV, ENXIO or EIO, a network share that left ESTALE.
bool liesOnADeviceThatLeft(const fs::path& path) {
    fs::path probe = normalizedPath(path);
    for (;;) {
        struct stat st{};
        if (::stat(probe.c_str(), &st) == 0) return false;
        if (errno == ENOTCONN || errno == ENODEV || errno == ENXIO || errno == EIO || errno == ESTALE) return true;
        if (!probe.has_relative_path()) return false;
        probe = probe.parent_path();
    }
}

// Where volumes get mounted, and how many levels below it a volume's own folder sits:
// /mnt/<drive>, /media/<drive> or /media/<user>/<drive>, /run/media/<user>/<drive>.
struct MountArea {
    const char* folder;
    size_t depth;
};
constexpr MountArea mountAreas[] = {{"/mnt", 1}, {"/media", 2}, {"/run/media", 2}};

// True when `folder` is a mount area or lies at most a drive's depth inside one.
bool inMountArea(const fs::path& folder) {
    for (const MountArea& area : mountAreas) {
        if (!isSameOrBelow(folder, area.folder)) continue;
        size_t below = 0;
        for (const auto& part : fs::path(folder).lexically_relative(area.folder))
            if (!part.empty() && part != ".") ++below;
        if (below <= area.depth) return true;
    }
    return false;
}

bool isMountRoot(const fs::path& folder) {
    struct statx sx{};
    if (::statx(AT_FDCWD, folder.c_str(), 0, STATX_BASIC_STATS | STATX_MNT_ID, &sx) != 0) return false;
    if (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    struct statx up{};
    if (::statx(AT_FDCWD, folder.parent_path().c_str(), 0, STATX_BASIC_STATS | STATX_MNT_ID, &up) != 0) return false;
    if ((sx.stx_mask & STATX_MNT_ID) && (up.stx_mask & STATX_MNT_ID)) return sx.stx_mnt_id != up.stx_mnt_id;
    return sx.stx_dev_major != up.stx_dev_major || sx.stx_dev_minor != up.stx_dev_minor;
}

}  // namespace

std::optional<std::string> DestinationRoot::notConnectedReason(const fs::path& destination) {
    const fs::path existing = nearestExisting(destination);
    std::vector<fs::path> forms{existing};
    if (auto real = canonicalExistingPath(existing); real && *real != existing) forms.push_back(*real);
    for (const fs::path& form : forms) {
        if (inMountArea(form) && !isMountRoot(form))
            return CopyError::destinationNotConnectedText(destination);
    }
    return std::nullopt;
}

DestinationRoot::DestinationRoot(CopyFileIO& io, fs::path root, std::optional<VolumePin> volume)
    : io_(io), root_(std::move(root)) {
    if (liesOnADeviceThatLeft(root_)) {
        startFailure_ = CopyEngine::destinationGoneText;
        return;
    }
    const fs::path existing = nearestExisting(root_);
    if (volume) {
        volume_ = std::move(*volume);
        if (!volume_.isReachable() || !volume_.holds(existing)) {
            startFailure_ = CopyEngine::destinationGoneText;
            return;
        }
    } else {
        if (auto reason = notConnectedReason(root_)) {
            startFailure_ = reason;
            return;
        }
        auto pinned = VolumePin::of(existing);
        if (!pinned) {
            startFailure_ = CopyEngine::destinationGoneText;
            return;
        }
        volume_ = std::move(*pinned);
    }
    // The missing folders down to the root, each on the volume.
    const std::string& text = root_.native();
    for (size_t pos = existing.native().size() + 1; pos <= text.size(); ++pos) {
        if (pos != text.size() && text[pos] != '/') continue;
        if (auto failure = makeFolder(text.substr(0, pos))) {
            startFailure_ = failure;
            return;
        }
    }
    SeamFd fd(io_, io_.open(text.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st{};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        startFailure_ = folderFailurePrefix + errnoText(fd.get() < 0 ? errno : ENOTDIR);
        return;
    }
    if (!volume_.holds(fd.get())) {
        startFailure_ = CopyEngine::destinationGoneText;
        return;
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
    keepsNumbers_ = CardFileComparison::keepsInodeNumbers(fd.get());
    pin_ = pinInode(fd.get(), ".", device_, inode_);
}

std::optional<std::string> DestinationRoot::makeFolder(const std::string& folder) {
    bool created = io_.mkdir(folder.c_str(), 0777) == 0;
    if (!created && errno != EEXIST)
        return folderFailurePrefix + DestinationNameFault::reason(fs::path(folder).filename().native(), errno);
    // An existing folder, or a link to one, is fine where it leads onto the volume.
    SeamFd fd(io_, io_.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) {
        int error = errno == ENOTDIR ? EEXIST : errno;
        if (created) io_.rmdir(folder.c_str());
        return folderFailurePrefix + errnoText(error);
    }
    if (!volume_.holds(fd.get())) {
        // Made (or found) on another volume. Only a folder this call made is removed, and
        // only while it is empty. With the root still in place on its volume, the folder
        // leads elsewhere (a link to another drive, another file system mounted there): only
        // the files below it fail. Otherwise the drive is gone.
        fd.reset();
        if (created) io_.rmdir(folder.c_str());
        if (inode_ != 0 && !unavailableReason())
            return folderFailurePrefix + toDisplayUtf8(fs::path(folder)) + " leads off the destination drive.";
        gone_ = true;
        return std::string(CopyEngine::destinationGoneText);
    }
    return std::nullopt;
}

std::optional<std::string> DestinationRoot::unavailableReason() {
    if (startFailure_) return startFailure_;
    if (!gone_) {
        struct stat st{};
        gone_ = ::stat(root_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_dev != device_ ||
                st.st_ino != inode_ || !volume_.isReachable() || !volume_.holds(root_);
    }
    if (gone_) return std::string(CopyEngine::destinationGoneText);
    return std::nullopt;
}

std::optional<std::string> DestinationRoot::createFolders(const std::string& relativeFolder) {
    std::string folder = root_.native();
    size_t start = 0;
    while (start < relativeFolder.size()) {
        size_t end = relativeFolder.find('/', start);
        if (end == std::string::npos) end = relativeFolder.size();
        if (end > start) {
            folder += "/" + relativeFolder.substr(start, end - start);
            if (auto failure = makeFolder(folder)) return failure;
        }
        start = end + 1;
    }
    return std::nullopt;
}

bool DestinationRoot::stillHolds(const WrittenCopy& copy, const std::string& digest) {
    if (gone_ || !volume_.isReachable()) {
        gone_ = true;
        return false;
    }
    const fs::path& path = copy.path();
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != copy.device() ||
        copy.device() != volume_.device)
        return false;
    if (st.st_ino == copy.inode()) return true;
    if (keepsNumbers_ || digest.empty() || unavailableReason()) return false;
    // Renumbered, or another file: what it is decides. FAT keeps times to 2 s, exFAT to 10 ms,
    // and a file read in again may come back at that precision.
    const auto& written = copy.writtenModified();
    if (st.st_size != copy.writtenSize() || std::llabs(static_cast<long long>(st.st_mtim.tv_sec - written.tv_sec)) > 2)
        return false;
    SeamFd fd(io_, io_.open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0 || !volume_.holds(fd.get())) return false;
    try {
        const int found = fd.get();
        ChecksumEngine reader(ChecksumEngine::defaultChunkSize,
                              [found](const fs::path&, int) { return ::fcntl(found, F_DUPFD_CLOEXEC, 0); });
        return reader.hash(path) == digest;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace tessaline
