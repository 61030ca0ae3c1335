#pragma once
// Whether a card's files are still the files an earlier walk recorded, also where the file
// system renumbers them. FAT, exFAT and FUSE file systems (the kernel's vfat and exfat, and
// exfat-fuse alike) give a file a new inode number whenever the kernel forgets it from its
// cache (walking a big drive is enough), so there a differing number says nothing by itself:
// a file whose name, size and times equal its record but whose number differs is renumbered,
// and its bytes decide, read again and compared with the digest in its record (the bytes the
// scan proved). A renumbered file whose record holds no digest cannot be vouched for by its
// bytes and counts as changed. On file systems that keep their numbers (ext4, xfs, btrfs,
// f2fs…) another number is another file, as it always was. The scan's check after its
// proofs, the erase gate's count, the erase worker's last walk and the copy's closing walk
// all compare through here.
// Plain functions; any thread. readAgain() and changedJudgingBytes() block on the reads.

#include "Tessaline/Scanner/CardFileMount.hpp"
#include "Tessaline/Scanner/CardFileRecord.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tessaline {

struct CardFileComparison {
    // What inode numbers tell between two walks of a card.
    enum class Numbering {
        ignored,      // two mounts (the card was mounted again): numbers are not compared
        identity,     // one mount of a file system that keeps numbers: another number is another file
        renumbering,  // one mount of a FAT, exFAT or FUSE file system: another number sends the file to its bytes
    };

    // The numbering between walks through `before` and `now`: ignored when both mounts are
    // known and differ (CardFileSet::sameMount); renumbering when the mount (either known one)
    // keeps no numbers; identity otherwise, also when neither is known (the strict side).
    static Numbering between(const std::optional<CardFileMount>& before, const std::optional<CardFileMount>& now);

    // Whether the file system of the open file or folder `fd` keeps a file's inode number
    // while mounted, by statfs's f_type: false for FAT (MSDOS_SUPER_MAGIC), exFAT and any
    // FUSE mount; true for every other and when it cannot be read.
    static bool keepsInodeNumbers(int fd);

    enum class Likeness {
        same,        // the recorded file, unchanged
        changed,     // another size or times, another file, or other bytes
        renumbered,  // the same but for its number; its bytes are still to be read (readAgain)
    };

    // How `now` stands to `recorded` (records of one path). Size and times must be equal.
    // Numbers decide under `identity` (either one 0: not known, passes); under `renumbering`
    // a differing number makes the file renumbered, or, once `now` holds the digest of its
    // bytes, same or changed by that digest; a recorded digest that is empty there means
    // changed. Wherever both records hold a digest, different digests mean changed.
    static Likeness likeness(const CardFileRecord& recorded, const CardFileRecord& now, Numbering numbering);

    struct Differences {
        std::vector<std::string> changed;     // only in one set, or changed; relative paths, path order
        std::vector<std::string> renumbered;  // to be judged by their bytes; relative paths, path order
        bool none() const { return changed.empty() && renumbered.empty(); }
        friend bool operator==(const Differences&, const Differences&) = default;
    };

    // The differences of two sets of records, each sorted by relative path (byte order).
    static Differences compare(const std::vector<CardFileRecord>& before, const std::vector<CardFileRecord>& now,
                               Numbering numbering);

    using CancelTest = std::function<bool()>;
    using Progress = std::function<void(int done, int total)>;

    // Reads the files `paths` (relative; each the path of a record of `now`, which is sorted)
    // below `card` again, never through a link or into another mount: a record whose open
    // file still has the record's size and times, throughout the read, takes the inode number
    // of that open file and the digest of its bytes. A file gone, unreadable, changed or not
    // reached once `isCancelled` answered true keeps an empty digest (so it stays renumbered,
    // which callers count as changed). `progress(done, total)` after each file.
    static void readAgain(const std::filesystem::path& card, std::vector<CardFileRecord>& now,
                          const std::vector<std::string>& paths, const CancelTest& isCancelled = {},
                          const Progress& progress = {});

    // compare(), with the renumbered files read again (readAgain) and judged by their bytes:
    // every path added, removed or changed, a renumbered file whose bytes differ or could not
    // be read included; path order. `now` keeps what the reads found.
    static std::vector<std::string> changedJudgingBytes(const std::filesystem::path& card,
                                                        const std::vector<CardFileRecord>& before,
                                                        std::vector<CardFileRecord>& now, Numbering numbering,
                                                        const CancelTest& isCancelled = {},
                                                        const Progress& progress = {});

    // Gives each record of `now` that is, by likeness(), the same file as its record in
    // `before` that record's digest (the bytes proven of it). Both sorted by relative path.
    static void takeDigests(std::vector<CardFileRecord>& now, const std::vector<CardFileRecord>& before,
                            Numbering numbering);
};

}  // namespace tessaline
