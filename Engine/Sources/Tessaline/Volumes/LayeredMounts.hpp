#pragma once
// The layered mounts of the mount table (overlay file systems) and the folders they show:
// an overlay whose lower or upper layer lies on a card shows the card's own files under a
// device number and a path of its own, with no UUID, so neither tells it from a drive. Its
// layers are named in the mount's options in /proc/self/mountinfo ("lowerdir=A:B",
// "upperdir=C", or one "lowerdir+=" / "datadir+=" per layer). Plain value; reads the
// table once when made; never throws.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

class LayeredMounts {
public:
    struct Mount {
        int id = 0;                        // mount ID
        std::filesystem::path mountPoint;  // decoded
        std::vector<std::string> layers;   // every lower, data and upper layer, decoded
    };

    // The overlays of the current mount table.
    static LayeredMounts current();
    // The overlays among the lines of a mountinfo text.
    static LayeredMounts fromMountInfo(std::string_view text);
    // The layers named in one overlay's super options (the last field of its mountinfo line).
    static std::vector<std::string> layersIn(std::string_view superOptions);

    const std::vector<Mount>& mounts() const { return mounts_; }

    // Whether `path` lies on an overlay that shows files of the file system whose device
    // number is `device`: one of its layers lies there, directly or through another overlay.
    // A layer that cannot be looked at counts as lying there (what cannot be told apart from
    // the card is taken for it). False at once when the table holds no overlay.
    bool showsDevice(const std::filesystem::path& path, dev_t device) const;

private:
    explicit LayeredMounts(std::vector<Mount> mounts) : mounts_(std::move(mounts)) {}
    const Mount* mountHolding(const std::filesystem::path& path) const;
    bool showsDevice(const std::filesystem::path& path, dev_t device, int depth) const;

    std::vector<Mount> mounts_;
};

}  // namespace tessaline
