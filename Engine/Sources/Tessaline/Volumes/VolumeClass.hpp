#pragma once
// How a volume is attached: the flags shown in pickers and the gate of erase and reformat.

namespace tessaline {

struct VolumeClass {
    // Internal volumes are never offered as a card or drive and are never erased.
    bool isInternal = true;
    // The medium can leave its drive (SD card, whole-disk "removable" flag).
    bool isRemovable = false;
    // The volume can be detached: every external volume, network shares too.
    bool isEjectable = false;

    friend bool operator==(const VolumeClass&, const VolumeClass&) = default;
};

}  // namespace tessaline
