#pragma once
// Whether a copy destination would write into the card being copied (internal to the copy
// engine and the sync runner). A copy there proves the card by itself and leaves nothing off it. Runs on the
// caller's thread; reads the mount table; never throws.

#include <filesystem>

namespace tessaline {

// True when `destination` (which need not exist yet) is the card at `card` or lies inside it:
// - by path, both resolved through links as far as they exist;
// - by place in the card's file system (FileSystemPlace): the destination's nearest existing
//   folder on the same file system as the card root and at or below the card root's place
//   there. This is what a bind mount of a card folder, a bind mount of the card, or a second
//   mount of the card's device (another FUSE daemon included) cannot hide;
// - for a card that is the root of its file system, by where the destination's file system
//   lies (ProofGround, the scan's and the erase gate's own judgement): a second view of the
//   card's device, a disk image stored on the card, an overlay, or an image whose file
//   cannot be traced;
// - by identity: a folder on the way to the destination is the card root itself (same
//   device and inode), for when the mount table cannot be read.
// A card inside the destination, and folders beside the card on its file system, are not
// inside. False when the card does not exist.
bool isDestinationInsideCard(const std::filesystem::path& destination, const std::filesystem::path& card);

}  // namespace tessaline
