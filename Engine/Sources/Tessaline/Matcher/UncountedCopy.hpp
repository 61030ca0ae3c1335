#pragma once
// A drive file that held a card file's size (and would have been read for its proof) but was
// not counted as a copy because of where it lies: an overlay, a second view of the card's own
// device, or a disk image that is or may be stored on the card (ProofGround). Reports name each one with the reason, so a clip
// left missing by it is explained. Plain value.

#include "Tessaline/Volumes/ProofGround.hpp"

#include <filesystem>
#include <vector>

namespace tessaline {

struct UncountedCopy {
    std::filesystem::path path;  // the drive file
    ProofGround::Doubt doubt = ProofGround::Doubt::unidentified;
    bool operator==(const UncountedCopy&) const = default;

    // Sorted by path, each path once.
    static void tidy(std::vector<UncountedCopy>& copies);
};

}  // namespace tessaline
