#pragma once
// The verified copy of a camera card, or of a list of files, into a destination folder.
// Every copy is hashed (XXH64) as the source streams through once, flushed to the device,
// read back past the page cache and compared.
//
// Final names. A copy is written under a hidden temporary name in its destination folder
// (".<name>.brindlecove-<random>.part", which no scan takes for a card file) and only a
// proven copy is moved to its final name, without replacing anything (renameat2
// RENAME_NOREPLACE, or a checked fallback where the file system lacks it). So a final name
// only ever holds a proven copy or a file that was there before, and "already present" (a
// separate regular file of equal size and equal XXH64, reached from the destination folder
// without passing through a link and lying on the destination volume) only ever counts
// proven files, also those of another run copying into the same folder at the same time. A name taken before
// the move sends the copy to the next free "_N" name, or counts the source as already
// present when that file is identical. A copy that fails its flush or its proof is removed
// and never takes its final name. A placed copy the run cannot report as proven (the flush of
// its new name failed, or its drive was pulled or its name taken over before it was
// reported) is taken out of its final name again while that name still leads to it, so no
// final name holds a copy the run calls failed; nothing else is ever removed.
//
// The destination volume. Options::destinationVolume, or else the volume holding the
// destination folder when the run starts, is pinned: every folder the run creates and every
// file it opens for writing is checked by descriptor (device and mount id) to lie on it
// before a byte is written, and again before each copy is reported. Where the destination's
// file system numbers files afresh (FAT, exFAT, any FUSE mount), the root and each copy are
// held open until then, and a copy is known by what it is (see DestinationRoot.hpp), so a
// drive that never left is never called gone. A drive pulled mid-run
// (its empty mount-point folder left on the system disk), or one whose FUSE daemon died,
// fails that file and every later one with destinationGoneText, whatever error each call
// met; anything created elsewhere in the meantime is removed when
// this call created it. A destination that is missing where drives get mounted (its nearest
// existing folder being /media, /media/<user>, /run/media/<user>, /mnt, or an unmounted
// folder directly inside one) is never created: the card copy throws
// CopyError::destinationNotConnected before anything is written, the file-list copy (which
// never throws for a file) fails every file with that sentence.
//
// The source. Its identity (device, inode, size, modification and change times) is taken
// before it is read and compared after the read and after the proof: a card file rewritten,
// patched or replaced while it was copied is verificationFailed, "The card file changed
// while it was copied.", and its copy is removed. A file already at its name on the drive is
// compared with the card file held open, so it is the same card file however long the
// drive's copy takes to read (see DestinationPlanner.hpp). Where the card numbers files
// afresh (FAT, exFAT, FUSE), each card file the run proved stays pinned under the number its
// proof found until the run's closing look at the card, which then need not read it again
// (within half the descriptors the process may open, shared by its runs; files beyond that
// are read again).
//
// Blocks the caller's thread; events are delivered synchronously on it. Cancellation is
// asked between files, between the steps of the settle wait, and inside a file between the
// chunks of its write, of its read-back and of any comparison with a file already at the
// destination: a file cut off by a stop has its temporary copy removed and is neither
// reported nor counted (the run is cancelled, its later files unhandled). Small files are written a batch ahead of their events so one file-system flush serves
// them all; events and cancellation tests still come in the order of copying one file at
// a time. A cancellation noticed inside a batch leaves the batch's later copies where they
// are: each was proven and moved to its final name before the test was asked, and a proven
// copy under its final name is never removed (another run may already count on it). So the
// stopped run still reports those copies (their events and outcomes, in order, before
// `cancelled`): its outcomes list every file it left at the destination.
// Per-file failures are outcomes, never exceptions. Separate calls may run at once, also
// into one destination folder.

#include "Tessaline/Copy/CopyError.hpp"
#include "Tessaline/Copy/CopyFileIO.hpp"
#include "Tessaline/Copy/SettleOptions.hpp"
#include "Tessaline/Scanner/CardFileRecord.hpp"
#include "Tessaline/Scanner/MediaFile.hpp"
#include "Tessaline/Support/DateText.hpp"
#include "Tessaline/Volumes/VolumePin.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tessaline {

class CopyEngine {
public:
    using CopyError = tessaline::CopyError;

    struct Options {
        bool preserveStructure = true;          // mirror the card's folders; false: all in one folder
        bool verifyAfterCopy = true;            // read each copy back and compare digests
        bool skipIfDestinationVerifies = true;  // an identical file already there counts as copied
        int64_t chunkSize = 8 * 1024 * 1024;    // bytes per read and write; must be at least 1
        // The volume the destination must be on (VolumePin::of taken when the caller chose it).
        // Every folder created and every file written is checked by descriptor to lie on it;
        // otherwise that file and every later one fail with destinationGoneText, and nothing
        // is created anywhere else. Absent: the engine pins the volume holding the
        // destination folder (or its nearest existing folder) when the run starts.
        std::optional<VolumePin> destinationVolume;
        bool operator==(const Options&) const = default;
    };

    struct FileStatus {
        // In this order; the zero value is not a success.
        enum class Kind { verificationFailed, failed, copiedVerified, copiedNotVerified, skippedAlreadyPresent };
        Kind kind = Kind::failed;
        std::optional<std::string> reason;  // always set for `failed`, optional for `verificationFailed`

        static FileStatus verificationFailed(std::optional<std::string> reason = std::nullopt) {
            return {Kind::verificationFailed, std::move(reason)};
        }
        static FileStatus failed(std::string reason) { return {Kind::failed, std::move(reason)}; }
        static FileStatus copiedVerified() { return {Kind::copiedVerified, std::nullopt}; }
        static FileStatus copiedNotVerified() { return {Kind::copiedNotVerified, std::nullopt}; }
        static FileStatus skippedAlreadyPresent() { return {Kind::skippedAlreadyPresent, std::nullopt}; }

        // Copied (proven or not) or proven already present.
        bool landedSafely() const;
        // Copied and proven, or proven already present.
        bool isVerifiedPass() const;
        bool operator==(const FileStatus&) const = default;
    };

    struct FileOutcome {
        std::filesystem::path sourceURL;
        // The copy; for a skip the identical file found; for a failed plan root/relativePath.
        std::filesystem::path destinationURL;
        std::string relativePath;  // the source below the copy root (also in flat mode)
        int64_t byteSize = 0;      // as recorded when the list was made
        FileStatus status;
        std::optional<std::string> sourceChecksum;
        std::optional<std::string> destinationChecksum;
        // This file's own time: from the start of its handling (before its first byte is
        // read) to the end of its proof, or of whatever settled a file that was not proven.
        // Files written ahead in one batch overlap, never beyond their own proofs.
        EpochSeconds startedAt = 0;
        EpochSeconds finishedAt = 0;

        double duration() const { return finishedAt - startedAt; }
        bool operator==(const FileOutcome&) const = default;
    };

    // Events, in the order they can be sent.
    struct SettlingEvent { double quietRemaining = 0; };
    struct PlannedEvent { int fileCount = 0; int64_t totalBytes = 0; };
    struct FileStartedEvent { std::string name; int index = 0; int total = 0; };
    struct FileProgressEvent {
        int64_t bytesCopiedThisFile = 0;
        int64_t fileBytes = 0;           // the recorded size
        int64_t overallBytesCopied = 0;  // recorded sizes of earlier files + bytesCopiedThisFile
        int64_t overallBytes = 0;
    };
    // A check that copies nothing, and how far it is (`done` of `total` files):
    // filesOnDrive while the file `done` (from 1) of the run is compared with a file already
    // at its name on the drive (between its start and its finish); readBack while the copy of
    // the file `done` (from 1) is read back from the drive to prove it (after its last
    // fileProgress, before its finish); cardAgain for the closing look at the card once every
    // file is handled (first with done 0).
    // The checks that read a file's bytes say how far: `bytesRead` of `bytesToRead`, sent
    // first with 0 and again after every read, as fileProgress is for the copy (a comparison
    // reads the card file, unless its digest is known, and the drive's file). These live
    // byte counts are sent for the file whose progress is live (the first of a batch); a file
    // written ahead in a batch gets one comparison event without bytes, and none for its
    // read-back (a batch writes at most 256 MiB ahead). 0 of 0 where no bytes are counted.
    struct CheckingEvent {
        enum class Phase { filesOnDrive, cardAgain, readBack };
        Phase phase = Phase::filesOnDrive;
        int done = 0;
        int total = 0;
        int64_t bytesRead = 0;
        int64_t bytesToRead = 0;
        bool operator==(const CheckingEvent&) const = default;
    };
    struct FileFinishedEvent { FileOutcome outcome; int index = 0; int total = 0; };
    struct SettleTimedOutEvent {};
    struct CancelledEvent {};
    using Event = std::variant<SettlingEvent, PlannedEvent, FileStartedEvent, FileProgressEvent,
                               FileFinishedEvent, SettleTimedOutEvent, CancelledEvent, CheckingEvent>;

    struct CopyRun {
        std::vector<FileOutcome> outcomes;  // in processing order
        bool wasCancelled = false;
        int plannedFileCount = 0;
        int64_t plannedBytes = 0;
        // The files (relative paths) added, removed or changed on the card while it was
        // copied, and folders that became unreadable, as a second read of the card's file set
        // found them once the last file was handled; for the file-list copy, the listed files
        // it proved (copied or found present) that are no longer as that proof found them
        // (judged by their bytes where the card's file system numbers files afresh). Empty
        // for a stopped run. Any entry means the copy does not stand for the card.
        std::vector<std::string> changedOnCard;

        bool isComplete() const { return !wasCancelled && static_cast<int>(outcomes.size()) == plannedFileCount; }
        bool operator==(const CopyRun&) const = default;
    };

    using CancelTest = std::function<bool()>;
    using EventHandler = std::function<void(const Event&)>;

    // The system's own file calls.
    CopyEngine();
    // Every failing file call goes through `io` (tests inject faults there).
    explicit CopyEngine(std::shared_ptr<CopyFileIO> io);

    // Waits for the card to settle, walks it and copies every file an erase of it would delete
    // (CardFileSet: hidden files and camera support folders included, OS litter and the
    // spared system items left out), each to its path below the destination; a folder that
    // cannot be read is a failed entry. When every file was handled (not stopped) it reads the
    // card's file set again and lists what changed meanwhile in CopyRun::changedOnCard.
    // Throws CopyError::cannotScanSource when the card cannot be read; before anything is
    // written, CopyError::destinationInsideSource when the destination is the card or inside it, by path or through any mount of the
    // card's file system (a bind mount, a second mount of its device; see
    // DestinationInsideCard.hpp), and CopyError::destinationNotConnected
    // when it is missing where drives get mounted (without options.destinationVolume);
    // std::invalid_argument when options.chunkSize < 1.
    CopyRun copy(const std::filesystem::path& card, const std::filesystem::path& destination,
                 const Options& options, const SettleOptions& settle, const CancelTest& isCancelled,
                 const EventHandler& onEvent = {}) const;

    // The card copy of the folder `folderOnCard` ("a/b", relative; empty: the whole card)
    // below the card root `cardRoot`: the part of the card's file set below that folder, with
    // paths taken under it; the spared system items are those of the card root. Otherwise as
    // the card copy of that folder.
    CopyRun copyCardFolder(const std::filesystem::path& cardRoot, const std::filesystem::path& folderOnCard,
                           const std::filesystem::path& destination, const Options& options,
                           const SettleOptions& settle, const CancelTest& isCancelled,
                           const EventHandler& onEvent = {}) const;

    // Copies `files` (sorted by path first) with paths taken under `relativeTo`. Never
    // throws for a file: each failure is that file's outcome. When every file was handled it
    // takes a closing look at the files it proved (CopyRun::changedOnCard). A destination inside
    // `relativeTo` (by path or by place in its file system, as for the card copy), or missing
    // where drives get mounted, fails every file with the sentence
    // of the matching CopyError. Throws std::invalid_argument when chunkSize < 1.
    CopyRun copy(const std::vector<MediaFile>& files, const std::filesystem::path& relativeTo,
                 const std::filesystem::path& destination, const Options& options,
                 const CancelTest& isCancelled, const EventHandler& onEvent = {}) const;

    // `file` below `root` as "a/b/c" (both standardized lexically first, links never
    // resolved); a file not strictly below the root gives its last component.
    static std::string relativePath(const std::filesystem::path& file, const std::filesystem::path& root);

    // "IMG_0001.JPG", 3 → "IMG_0001_3.JPG"; "DCIM/A/MVI.MOV", 1 → "DCIM/A/MVI_1.MOV";
    // "README", 2 → "README_2"; attempt below 1 leaves the name unchanged.
    static std::string suffixedRelativePath(const std::string& name, int attempt);

    // Reasons in words that outcomes carry: "The destination folder is no longer available —
    // is the drive still connected?"
    static const char* destinationGoneText;

private:
    // The card copy's closing look: given the run once every file is handled and the records
    // of the card files it proved as their proofs found them (path order), the paths changed
    // on the card. Empty: the file-list copy's look at the files it proved.
    using CardLook = std::function<std::vector<std::string>(const CopyRun&, const std::vector<CardFileRecord>&)>;
    CopyRun copyList(const std::vector<MediaFile>& files, const std::vector<std::filesystem::path>& unreadableFolders,
                     const std::filesystem::path& relativeTo, const std::filesystem::path& destination,
                     const Options& options, const CancelTest& isCancelled, const EventHandler& onEvent,
                     const CardLook& cardLook) const;

    std::shared_ptr<CopyFileIO> io_;
};

}  // namespace tessaline
