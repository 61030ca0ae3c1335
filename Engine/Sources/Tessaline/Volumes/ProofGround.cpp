#include "Tessaline/Volumes/ProofGround.hpp"

#include "Tessaline/Volumes/DeviceReach.hpp"

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <set>
#include <vector>

namespace tessaline {

namespace fs = std::filesystem;

namespace {

using Doubt = ProofGround::Doubt;

constexpr long overlayMagic = 0x794c7630;  // OVERLAYFS_SUPER_MAGIC
// Image files held inside image files deeper than this are not followed: untraced.
constexpr size_t maxHolders = 16;

}  // namespace

std::optional<Doubt> ProofGround::judge(dev_t device, const fs::path& pathOnIt, dev_t cardDevice) {
    const std::optional<Doubt> doubt = judgeOnce(device, pathOnIt, cardDevice);
    const bool untraceable =
        doubt == Doubt::unidentified || doubt == Doubt::untracedDevice || doubt == Doubt::unlocatedFuseImage ||
        doubt == Doubt::untracedFileMount;
    return untraceable ? judgeOnce(device, pathOnIt, cardDevice) : doubt;
}

std::optional<Doubt> ProofGround::judgeOnce(dev_t device, const fs::path& pathOnIt, dev_t cardDevice) {
    if (device == cardDevice) return std::nullopt;
    if (major(device) == 0) {
        struct statfs info {};
        if (::statfs(pathOnIt.c_str(), &info) != 0) return Doubt::unidentified;
        if (static_cast<long>(info.f_type) == overlayMagic) return Doubt::overlay;
    }
    std::optional<MountTable> table;
    DeviceReach drive(table);
    drive.addFileSystem(device, pathOnIt);
    DeviceReach card(table);
    card.addFileSystem(cardDevice);
    // The same bytes as the card's, read another way.
    if (drive.meets(card)) return Doubt::viewOfCard;
    // Inside an image file held by the card (or by anything showing it), however deep.
    std::set<dev_t> seen;
    std::vector<std::pair<dev_t, fs::path>> holders(drive.imageHolders().begin(), drive.imageHolders().end());
    DeviceReach found(table);  // what was met on the way, by kind
    auto note = [&found](const DeviceReach& reach) {
        found.untraced = found.untraced || reach.untraced;
        found.unfollowed = found.unfollowed || reach.unfollowed;
        found.fuseUnlocated = found.fuseUnlocated || reach.fuseUnlocated;
        found.fileUnfollowed = found.fileUnfollowed || reach.fileUnfollowed;
        found.onOverlay = found.onOverlay || reach.onOverlay;
    };
    note(drive);
    for (size_t i = 0; i < holders.size(); ++i) {
        const auto [holderDevice, pathToImage] = holders[i];
        if (!seen.insert(holderDevice).second) continue;
        if (seen.size() > maxHolders) return Doubt::unidentified;
        if (holderDevice == cardDevice) return Doubt::imageOnCard;
        DeviceReach holder(table);
        holder.addFileSystem(holderDevice, pathToImage);
        if (holder.meets(card)) return Doubt::imageOnCard;
        note(holder);
        holders.insert(holders.end(), holder.imageHolders().begin(), holder.imageHolders().end());
    }
    if (found.onOverlay) return Doubt::overlay;
    if (found.fuseUnlocated) return Doubt::unlocatedFuseImage;
    if (found.fileUnfollowed) return Doubt::untracedFileMount;
    if (found.untraced) return Doubt::unidentified;
    if (found.unfollowed) return Doubt::untracedDevice;
    return std::nullopt;
}

std::optional<Doubt> ProofGround::doubtOf(dev_t device, const fs::path& pathOnIt, dev_t cardDevice) {
    if (device == cardDevice) return std::nullopt;
    const auto key = std::pair{device, cardDevice};
    if (auto it = known_.find(key); it != known_.end()) return it->second;
    const std::optional<Doubt> doubt = judge(device, pathOnIt, cardDevice);
    known_.emplace(key, doubt);
    return doubt;
}

std::optional<Doubt> ProofGround::doubtOf(const fs::path& path, dev_t cardDevice) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return doubtOf(st.st_dev, path, cardDevice);
}

std::string ProofGround::reasonText(Doubt doubt) {
    switch (doubt) {
        case Doubt::overlay:
            return "on an overlay (a layered view), which can show the card's own files";
        case Doubt::viewOfCard:
            return "on a second view of the card's own device";
        case Doubt::imageOnCard:
            return "inside a disk image stored on the card";
        case Doubt::unidentified:
            return "inside a disk image whose file this user can't locate, so it may be stored on the card";
        case Doubt::untracedDevice:
            return "on a file system whose device can't be followed to the disk it reads, so it may lie on the card";
        case Doubt::unlocatedFuseImage:
            return "on a FUSE file system whose disk image or archive can't be located, so it may be stored on the card";
        case Doubt::untracedFileMount:
            return "on a file system mounted from a file that can't be followed to where it lies, so it may lie on the card";
    }
    return {};
}

std::string ProofGround::reasonKey(Doubt doubt) {
    switch (doubt) {
        case Doubt::overlay: return "overlay";
        case Doubt::viewOfCard: return "view_of_card";
        case Doubt::imageOnCard: return "image_on_card";
        case Doubt::unidentified: return "unidentified_image";
        case Doubt::untracedDevice: return "untraced_device";
        case Doubt::unlocatedFuseImage: return "unlocated_fuse_image";
        case Doubt::untracedFileMount: return "untraced_file_mount";
    }
    return {};
}

}  // namespace tessaline
