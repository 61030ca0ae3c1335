#pragma once
// Whether a copy destination would write into the card being copied (internal to the copy
// engine and the sync runner). A copy there proves the card by itself and leaves nothing off it. Runs on the
// caller's thread; reads the mount table; never throws.

#include "Tessaline/Volumes/ProofGround.hpp"

#include <filesystem>
#include <optional>

namespace tessaline {

// Why a destination counts as the card: it lies inside the card itself (no doubt), or on a file
// system that may show the card's bytes, for `doubt`.
struct DestinationOnCard {
    std::optional<ProofGround::Doubt> doubt;
};

// True when `destination` (which need not exist yet) is the card at `card` or lies inside it:
// - by path, both resolved through links as far as they exist;
// - by place in the card's file system (FileSystemPlace): the destination's nearest existing
//   folder on the same file system as the card root and at or below the card root's place
//   there. This is what a bind mount of a card folder, a bind mount of the card, or a second
//   mount of the card's device (another FUSE daemon included) cannot hide. A file system
//   taken for the card's by its UUID alone (the udev database and /dev/disk/by-uuid may still
//   describe what a loop device showed before another program re-used it) counts only when
//   the kernel's links confirm it reads the card's bytes (ProofGround: a view of the card);
// - for a card that is the root of its file system, by where the destination's file system
//   lies (ProofGround, the scan's and the erase gate's own judgement): a second view of the
//   card's device, a disk image stored on the card, an overlay, or an image whose file
//   cannot be traced;
// - by identity: a folder on the way to the destination is the card root itself (same
//   device and inode), for when the mount table cannot be read.
// A card inside the destination, and folders beside the card on its file system, are not
// inside. False when the card does not exist.
bool isDestinationInsideCard(const std::filesystem::path& destination, const std::filesystem::path& card);
// The same, with why; nullopt when the destination is not the card's.
std::optional<DestinationOnCard> destinationOnCard(const std::filesystem::path& destination,
                                                   const std::filesystem::path& card);

}  // namespace tessaline
