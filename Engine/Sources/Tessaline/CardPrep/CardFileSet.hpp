#pragma once
// The files an erase of a card deletes, as one walk of the card finds them: every regular file
// below every top-level item the erase removes (every item but CardPrepEngine::systemItems()),
// whatever its name, in hidden folders and junk-named folders too, on the card's own file
// system only and never through a link, as the erase goes. Left out is only what operating
// systems make and remake by themselves, judged by their content (isLitter()). The scan records this set in its report,
// the erase gate's count compares the card against it, and the erase worker walks it again
// just before deleting: one set for all three.
// The same walk counts every regular file of the card, and every one the erase deletes, for
// the screen. Plain value; read()
// blocks its caller and is safe on any thread.

#include "Tessaline/CardPrep/CardFileComparison.hpp"
#include "Tessaline/Scanner/CardFileMount.hpp"
#include "Tessaline/Scanner/CardFileRecord.hpp"

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

struct CardFileSet {
    std::vector<CardFileRecord> files;         // sorted by relative path (byte order)
    std::vector<std::string> unreadableFolders;  // relative; outside the spared system items
    int allFileCount = 0;                        // every regular file, litter and system items' included
    int64_t allBytes = 0;                        // their sizes
    // Every regular file the erase deletes: all but those in the spared system items, OS
    // litter included (the erase deletes it, though the set leaves it out).
    int erasedFileCount = 0;
    int64_t erasedBytes = 0;                     // their sizes
    // The mount the walk went through, read before and after it; nullopt when it could not be
    // read or changed meanwhile.
    std::optional<CardFileMount> mount;

    // Whether every folder the erase would empty was read: only then does the set hold every
    // file the erase deletes.
    bool isComplete() const { return unreadableFolders.empty(); }

    // Walks the card. Throws ScanError::cannotEnumerate(card) when the card folder cannot be
    // opened; unreadable folders below it are listed and the walk goes on.
    static CardFileSet read(const std::filesystem::path& card);
    // The part of the card's set below `folder`, which lies at `placeOnCard` ("a/b") below
    // the card root: paths relative to `folder`, the spared system items judged from the
    // card root. `placeOnCard` empty: `folder` is the card root (read(folder)).
    static CardFileSet read(const std::filesystem::path& folder, std::string_view placeOnCard);

    // The names of the files operating systems make and remake on any volume they see:
    // ".DS_Store", AppleDouble "._*" files, "Thumbs.db" and "desktop.ini" (case ignored).
    // A name alone makes nothing litter: see the test below.
    static bool isLitter(std::string_view name);

    // Whether the regular file `name` in the open folder `folderFd`, whose lstat is `status`,
    // is OS litter as it stands: a litter name whose bytes are what the name says (an
    // AppleDouble or ".DS_Store" header, a compound file's magic for "Thumbs.db", a
    // "desktop.ini" of at most 64 KiB whose every non-empty line is a "[section]", a
    // "key=value" or a "; comment", in UTF-8 or in UTF-16 with its byte order mark). Any other
    // file of such a name is a file like every other. Reads only files of litter names,
    // through `folderFd` without following a link, and only while the entry is still the
    // file `status` describes (else: not litter).
    static bool isLitter(int folderFd, std::string_view name, const struct stat& status);

    // The record of a file from its status.
    static CardFileRecord recordOf(std::string relative, const struct stat& status);

    // Whether two records of one path describe the same file unchanged: equal size and times,
    // and, with `byInode`, equal inode numbers where both are known. Ask byInode only for two
    // walks through one mount (sameMount()). Strict: a file renumbered by a FAT, exFAT or FUSE
    // file system differs here; CardFileComparison judges such a file by its bytes.
    static bool sameFile(const CardFileRecord& a, const CardFileRecord& b, bool byInode);

    // Whether the inode numbers of two walks can be compared: false only when both mounts are
    // known and differ (a card mounted again since; its numbers may all be new).
    static bool sameMount(const std::optional<CardFileMount>& a, const std::optional<CardFileMount>& b);

    // The mount the folder `card` leads to now, with whether its file system keeps inode
    // numbers (CardFileComparison::keepsInodeNumbers); nullopt when it cannot be read.
    static std::optional<CardFileMount> mountOf(const std::filesystem::path& card);

    // The files of `records` (below `card`, sorted) whose status now differs from their record,
    // or that are gone; relative paths in path order. Inode numbers compare by `numbering`
    // (one scan reads through one mount: identity, or renumbering where the file system keeps
    // no numbers; then a renumbered file is read again and judged by its bytes against its
    // record's digest, and, when they agree, its record takes the number it has now). The scan
    // asks this after hashing: a file rewritten or replaced while it was read is not proven.
    static std::vector<std::string> changedSince(
        const std::filesystem::path& card, std::vector<CardFileRecord>& records,
        CardFileComparison::Numbering numbering = CardFileComparison::Numbering::identity,
        const CardFileComparison::CancelTest& isCancelled = {}, const CardFileComparison::Progress& progress = {});

    // The relative paths in which two sets (each sorted) differ: files in only one of them, or
    // that are not sameFile(before, now, byInode); in path order. Strict: see
    // CardFileComparison::compare() for the comparison that tells renumbered files apart.
    static std::vector<std::string> differences(const std::vector<CardFileRecord>& before,
                                                const std::vector<CardFileRecord>& now, bool byInode);
};

}  // namespace tessaline
