#pragma once
// The destination folder of one copy run and the volume it must be on (internal to the copy
// engine). The volume is the caller's (CopyEngine::Options::destinationVolume) or else the
// one holding the destination's nearest existing folder when the run starts. Every folder
// this run creates and every file it opens for writing is checked by its descriptor to lie
// on that volume (device and mount id), and before each file and before each copy is
// reported the root must still lead onto it: a drive pulled mid-run (its empty mount-point
// folder left behind on the system disk) fails the remaining files with
// CopyEngine::destinationGoneText instead of filling that folder. A missing destination
// whose nearest existing folder is where volumes get mounted (/media, /media/<user>,
// /run/media/<user>, /mnt, or an unmounted folder directly inside one) belongs to a drive
// that is not connected: nothing is created there. A destination whose folders answer with
// the error of a device that is gone (a FUSE drive whose daemon died: ENOTCONN) is a drive
// that left: destinationGoneText. Runs on the caller's thread.
//
// Identity where the file system numbers files afresh (FAT, exFAT, any FUSE mount, decided
// as for cards: CardFileComparison::keepsInodeNumbers). The root is held open for the run and
// each copy until it is reported (pinInode), which keeps their numbers while the kernel
// forgets everything else; a copy whose number differs all the same is the run's copy only
// when it lies on the pinned volume, still mounted where it was, under its path below the
// root, with the size and modification time it was written with and the bytes its proof
// gave. On file systems that keep numbers another number is another file.

#include "Tessaline/Copy/CopyFileIO.hpp"
#include "Tessaline/Copy/InodePin.hpp"
#include "Tessaline/Copy/WrittenCopy.hpp"
#include "Tessaline/Volumes/VolumePin.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace tessaline {

class DestinationRoot {
public:
    // Creates the root if missing (each folder checked by descriptor) and pins its volume.
    // A failure is kept and given by unavailableReason().
    DestinationRoot(CopyFileIO& io, std::filesystem::path root, std::optional<VolumePin> volume);

    const std::filesystem::path& path() const { return root_; }
    // The volume every write must land on (valid when unavailableReason() gave nullopt).
    const VolumePin& volume() const { return volume_; }

    // Why nothing can be written now, or nullopt when the root is in place on its volume.
    // Once the volume was found gone it stays gone for the run.
    std::optional<std::string> unavailableReason();

    // Creates the folders of `relativeFolder` ("a/b", or "" for none) below the root, each
    // checked to lie on the volume (an existing folder, or a link to one, is taken where it
    // leads onto it). Returns the failure's reason or nullopt: "Couldn't create destination
    // folder: …" (also "… <folder> leads off the destination drive." for a folder that leads
    // elsewhere while the root is still in place), or destinationGoneText with the run
    // marked gone.
    std::optional<std::string> createFolders(const std::string& relativeFolder);

    // Whether the placed `copy`'s path still leads to that copy on the volume, and the volume
    // is still where it was mounted: the same number, or where the file system numbers files
    // afresh, the same size and modification time as written and the bytes `digest` (XXH64,
    // hex) proven of it. A volume no longer reachable marks the run gone.
    bool stillHolds(const WrittenCopy& copy, const std::string& digest);
    // Whether the destination's file system keeps inode numbers (see above).
    bool keepsNumbers() const { return keepsNumbers_; }
    void markGone() { gone_ = true; }

    // CopyError::destinationNotConnectedText when `destination` (or its nearest existing
    // folder, when it is missing) is where a drive would be mounted but none is; else nullopt.
    static std::optional<std::string> notConnectedReason(const std::filesystem::path& destination);

private:
    std::optional<std::string> makeFolder(const std::string& folder);
    CopyFileIO& io_;
    std::filesystem::path root_;
    VolumePin volume_;
    std::optional<std::string> startFailure_;
    bool gone_ = false;
    bool keepsNumbers_ = true;
    UniqueFd pin_;  // pinInode of the root
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace tessaline
