#pragma once
// Erases a camera card's top level and rebuilds the folder layout a camera expects, like an
// in-camera format but without touching the file system. Only the root of an external
// volume is ever erased, and only the very volume that was checked:
//   1. check(path) when the card is picked gives an issue, or the card's facts (its device,
//      file-system UUID and mount ID). Keep the facts with what the user is shown.
//   2. prepare(path, facts, ...) when the user confirms, with the facts from step 1 (never
//      from a fresh check made at that moment, which would vouch for whatever card is in the
//      reader then). prepare() runs the full check itself, refuses any issue, and refuses
//      with PrepError::Kind::cardChanged when the volume at the path is not the checked one:
//      a card swapped for another at the same mount point, or the same card unmounted and
//      mounted again (a new mount; a fresh check and a fresh confirmation make it erasable).
// Removal never follows a symbolic link and never enters another mount below the card.
// No state; check() and validate() are safe on any thread; prepare() blocks its caller and
// calls onEvent synchronously on that thread.

#include "Tessaline/CardPrep/CameraFormatProfile.hpp"
#include "Tessaline/CardPrep/CardPrepError.hpp"
#include "Tessaline/Scanner/CardFileRecord.hpp"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tessaline {

class CardPrepEngine {
public:
    using PrepError = CardPrepError;

    struct Summary {
        int itemsDeleted = 0;
        int64_t bytesFreed = 0;                   // logical sizes of the removed files
        std::vector<std::string> foldersCreated;  // the profile's folders that exist afterwards
        // Top-level names whose removal failed: something below could not be deleted (not an
        // item left only because it holds kept files).
        std::vector<std::string> failures;
        bool cancelled = false;
        // An erase of vouched files only: the regular files it kept because they were not
        // vouched for or changed since (relative paths, in the order met).
        std::vector<std::string> kept;
        int filesDeleted = 0;  // regular files deleted, also of items not removed whole
        // Stopped before anything was removed (in the plan's measuring, before the first item
        // or before the first removal inside it): the card is as it was, no folder created.
        bool untouched = false;
        // Of foldersCreated, those this erase made (one of its folders did not exist before),
        // in the same order: what "created" may count.
        std::vector<std::string> foldersMade;

        bool isClean() const { return failures.empty() && kept.empty() && !cancelled; }
        friend bool operator==(const Summary&, const Summary&) = default;
    };

    struct Planned {
        int itemCount = 0;
        int64_t totalBytes = 0;
        int fileCount = 0;  // the regular files the plan measured in the items
        friend bool operator==(const Planned&, const Planned&) = default;
    };
    struct Deleting {
        std::string name;  // the item's raw file name (may not be UTF-8)
        int index = 0;     // 0-based
        int total = 0;
        friend bool operator==(const Deleting&, const Deleting&) = default;
    };
    struct CreatingFolders {
        int count = 0;
        friend bool operator==(const CreatingFolders&, const CreatingFolders&) = default;
    };
    // Sent after each regular file deleted: how many were deleted so far, of the files planned
    // (Planned::fileCount; a file made during the erase can take the count past it).
    struct FilesDeleted {
        int deleted = 0;
        int planned = 0;
        friend bool operator==(const FilesDeleted&, const FilesDeleted&) = default;
    };
    using Event = std::variant<Planned, Deleting, CreatingFolders, FilesDeleted>;

    enum class CardRootIssue { dangerousSystemLocation, notAVolumeRoot, internalDisk };

    // Top-level names that are never deleted (compared exactly, case included).
    static const std::vector<std::string>& systemItems();

    // The volume check() accepted, as prepare() must find it again. Plain value.
    struct CardFacts {
        std::filesystem::path canonicalRoot;        // the card root with links resolved
        dev_t device = 0;                           // st_dev of the card's files
        std::optional<std::string> fileSystemUuid;  // the volume's UUID (FAT/exFAT serial)
        // The mount the path reached: the kernel's never-reused 64-bit mount ID (Linux 6.8
        // and later), else the mount table's ID. A remount of the same card is a new mount.
        uint64_t mountId = 0;
        friend bool operator==(const CardFacts&, const CardFacts&) = default;
    };

    // What check() found: exactly one of the two is set.
    struct CheckedCard {
        std::optional<CardRootIssue> issue;  // why the folder may not be erased
        std::optional<CardFacts> card;       // the facts of an erasable card

        bool isErasable() const { return card.has_value(); }
    };

    // Whether `cardRoot` may be erased and, when it may, the facts prepare() needs.
    // dangerousSystemLocation: a dangerous folder, the root file system or an internal
    // volume; notAVolumeRoot: not the root of a volume with a block device behind it (a
    // folder inside a card, a tmpfs, a bind mount of a folder); internalDisk: internal by the
    // volume classifier. Reads the mount table, sysfs and udev afresh; never throws.
    static CheckedCard check(const std::filesystem::path& cardRoot);

    // check(cardRoot).issue: nullopt when `cardRoot` is the root of an external volume.
    static std::optional<CardRootIssue> validate(const std::filesystem::path& cardRoot);

    // Erases every top-level item but the system items, then creates the profile's folders
    // (also after a cancellation, unless it came before anything was removed: then the card
    // is left as it was and the summary is `untouched`). `checked` is the facts check() gave for this card when
    // the user was shown it. Throws PrepError, with nothing deleted: refusedDangerousRoot
    // when the path now has any issue; cardChanged when the volume at the path is not the
    // checked one (another card, or the same card mounted again), also when it changes
    // while the root is being opened; cannotList when the top level cannot be read. Items
    // that cannot be removed are listed in Summary::failures and the run goes on.
    // `isCancelled` (may be empty) is asked before each entry the plan measures, before each
    // top-level item and, inside one, before each file and each folder is removed: a stop leaves the item at hand partly removed,
    // neither deleted nor a failure, and what was not reached stays on the card.
    // With `vouched` (the records of the files the erase was checked to delete, as
    // CardFileSet::read gives them), a regular file is deleted only when its status just
    // before its deletion still gives its record, or when it is OS litter; every other one is
    // kept and listed in Summary::kept, with the folders holding it, and an item holding a
    // kept file is neither deleted nor a failure (the bytes that did go are counted). Items
    // that appear at the top level during such an erase are judged the same way at its end
    // (unless it was cancelled). Without `vouched` everything goes.
    // `onEvent` hears, in order: Planned once measured, Deleting before each top-level item,
    // FilesDeleted after each regular file deleted, CreatingFolders before the folders.
    static Summary prepare(const std::filesystem::path& cardRoot, const CardFacts& checked,
                           const CameraFormatProfile& profile, const std::function<bool()>& isCancelled,
                           const std::function<void(const Event&)>& onEvent = {},
                           const std::optional<std::vector<CardFileRecord>>& vouched = std::nullopt);

    CardPrepEngine() = delete;
};

}  // namespace tessaline
