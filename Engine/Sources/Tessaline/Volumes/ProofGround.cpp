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
constexpr long btrfsMagic = 0x9123683e;    // BTRFS_SUPER_MAGIC
// Image files held inside image files deeper than this are not followed: untraced.
constexpr size_t maxHolders = 16;

}  // namespace

std::optional<Doubt> ProofGround::judge(dev_t device, const fs::path& pathOnIt, dev_t cardDevice) {
    if (device == cardDevice) return std::nullopt;
    std::optional<MountTable> table;
    DeviceReach drive(table);
    if (major(device) == 0) {
        struct statfs info {};
        if (::statfs(pathOnIt.c_str(), &info) != 0) return Doubt::unidentified;
        if (static_cast<long>(info.f_type) == overlayMagic) return Doubt::overlay;
        // A btrfs file's device number is its subvolume's, which the mount table may not name.
        if (static_cast<long>(info.f_type) == btrfsMagic) drive.addBtrfs(pathOnIt);
    }
    drive.addDevice(device);
    DeviceReach card(table);
    card.addDevice(cardDevice);
    // The same bytes as the card's, read another way.
    if (drive.meets(card)) return Doubt::viewOfCard;
    // Inside an image file held by the card (or by anything showing it), however deep.
    std::set<dev_t> seen;
    std::vector<dev_t> holders(drive.imageHolders().begin(), drive.imageHolders().end());
    bool untraced = drive.untraced;
    bool onOverlay = drive.onOverlay;
    for (size_t i = 0; i < holders.size(); ++i) {
        if (!seen.insert(holders[i]).second) continue;
        if (seen.size() > maxHolders) return Doubt::unidentified;
        if (holders[i] == cardDevice) return Doubt::imageOnCard;
        DeviceReach holder(table);
        holder.addDevice(holders[i]);
        if (holder.meets(card)) return Doubt::imageOnCard;
        untraced = untraced || holder.untraced;
        onOverlay = onOverlay || holder.onOverlay;
        holders.insert(holders.end(), holder.imageHolders().begin(), holder.imageHolders().end());
    }
    if (onOverlay) return Doubt::overlay;
    if (untraced) return Doubt::unidentified;
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
    }
    return {};
}

std::string ProofGround::reasonKey(Doubt doubt) {
    switch (doubt) {
        case Doubt::overlay: return "overlay";
        case Doubt::viewOfCard: return "view_of_card";
        case Doubt::imageOnCard: return "image_on_card";
        case Doubt::unidentified: return "unidentified_image";
    }
    return {};
}

}  // namespace tessaline
