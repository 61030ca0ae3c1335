#pragma once
// A mounted volume as offered in pickers: a plain value.

#include <filesystem>
#include <string>

namespace tessaline {

struct VolumeInfo {
    std::filesystem::path url;  // the mount point, decoded, without trailing "/"
    std::string label;          // the volume name (volumes without one are not listed)
    bool isRemovable = false;
    bool isEjectable = false;
    bool isInternal = false;
    // Whether `label` is the file system's own label; false: an unlabeled volume named after
    // its mount point's folder.
    bool hasOwnLabel = true;

    // A card or drive the user may pick: every volume that is not internal, whatever its
    // removable and ejectable flags say (an external SSD reports neither).
    bool isCandidateCardOrDrive() const { return !isInternal; }

    friend bool operator==(const VolumeInfo&, const VolumeInfo&) = default;
};

}  // namespace tessaline
