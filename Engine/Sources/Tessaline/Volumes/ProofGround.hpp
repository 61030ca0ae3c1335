#pragma once
// Whether the files of a drive's file system may stand as copies of a card's files, judged
// from the kernel's own links between devices and never from the mount table's text:
// - an overlay file system never does: its layers are named by text (relative names, escapes,
//   bind mounts and links that may lead elsewhere since), so whether it shows the card
//   cannot be told;
// - a file system that reads any of the card's own bytes another way never does: a loop
//   device over the card's device, over the disk holding its partition at an offset within
//   the partition, over a device above it (a partition of a view), over the card's own image
//   file, or over device-mapper or md built on any of them (DeviceReach);
// - a file system inside a disk image whose file lies on the card, or on anything that reads
//   the card's bytes, however deeply stacked, never does: the image dies with the card;
// - a file system whose devices cannot all be traced (a loop device whose backing file this
//   user can't locate, devices stacked too deep, a device number nothing known stands for, a
//   kernel file system mounted straight from a file, a further device a file system reads that
//   can't be followed, a FUSE disk-image driver whose image can't be found) never does. A mount
//   table's source is text given when the mount was made (relative, gone, resolved in another
//   program's descriptor table, a link pointed elsewhere since): never taken for where the bytes lie.
// A btrfs file system is reached whole, on either side: every device it spans, whichever
// subvolume's number a file carries. A judgement that found something untraceable is made once
// more from a fresh look at the mount table, so one read that met a device being attached or
// detached by another program decides nothing.
// Everything else may (the caller still guards the card's own device and folders).
// Answers are cached per (drive device, card device) pair: a scan asks once per file and the
// devices are few. Not thread-safe; each thread keeps its own. Never throws.

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace tessaline {

class ProofGround {
public:
    enum class Doubt {
        overlay,       // a layered view, which may show the card's own files
        imageOnCard,   // a disk image stored on the card
        unidentified,  // a disk image (or device) whose backing this user cannot trace
        viewOfCard,    // the card's own bytes read through another device
        untracedDevice,      // a device number that can't be followed to the disk it reads
        unlocatedFuseImage,  // a FUSE file system whose disk image or archive can't be found
        untracedFileMount,   // a kernel file system mounted straight from a file, which no link ties to it
    };

    // Why the file system of `device` (`pathOnIt` is any path on it, used to ask its type)
    // cannot hold copies of the card on `cardDevice`; nothing when it can. The card's own
    // device is never doubted here.
    std::optional<Doubt> doubtOf(dev_t device, const std::filesystem::path& pathOnIt, dev_t cardDevice);
    // The same for a path, its device read with stat() (links followed). A path that cannot
    // be read is not judged (nothing): it holds no file to count, and a drive that is gone
    // is not taken for one on the card.
    std::optional<Doubt> doubtOf(const std::filesystem::path& path, dev_t cardDevice);

    // The words a report gives for a doubt, after "not counted: ".
    static std::string reasonText(Doubt doubt);
    // A short stable word for exported forms: "overlay", "image_on_card", "unidentified_image",
    // "view_of_card", "untraced_device", "unlocated_fuse_image", "untraced_file_mount".
    static std::string reasonKey(Doubt doubt);

    // Uncached: the judgement itself.
    static std::optional<Doubt> judge(dev_t device, const std::filesystem::path& pathOnIt, dev_t cardDevice);

private:
    static std::optional<Doubt> judgeOnce(dev_t device, const std::filesystem::path& pathOnIt, dev_t cardDevice);

    std::map<std::pair<dev_t, dev_t>, std::optional<Doubt>> known_;
};

}  // namespace tessaline
