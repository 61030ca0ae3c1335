#pragma once
// Where a card's files most likely have their copies, learnt from the copies proven so far: a
// card copied whole keeps its folders, so once a card file is proven at a drive path that ends
// in its place on the card (its path below the card root, ASCII case ignored), the rest of
// that drive path is a copy root, and every other card file's copy is looked for first at each
// copy root plus its own place, whatever card folder it lies in. Before any root is known, a
// drive file is the likelier copy the more of the card file's place it shares, and a copy
// dated before the card file it would copy (beyond the file systems' time granularity and
// whole-hour zone shifts) is the least likely. Paths are compared as bytes, ASCII letters
// folded. One thread.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

class CopyLeads {
public:
    // `cardRoot`: the card's root as its files' paths spell it (and as it resolves); none
    // when the files' places on the card are not known (each is then placed by its name).
    explicit CopyLeads(const std::optional<std::filesystem::path>& cardRoot);

    // A card file's place: its path below the card root, ASCII-lowercased, as components and
    // joined by "/"; its name alone (and `onCard` false) when it lies outside the card root.
    struct Place {
        std::vector<std::string> parts;
        std::string joined;
        bool onCard = false;
    };
    Place placeOf(std::string_view cardFile) const;

    // Notes the card file at `place` proven at drive file `drive`: a copy root (new, or proven
    // once more) when the drive path ends in its place. Whether a root is new.
    bool noteProven(const Place& place, std::string_view drive);
    // Roots found elsewhere (by an earlier proof of the same scan), each once.
    void addRoots(const std::vector<std::string>& roots);
    // The copy roots, each ending in "/", those where more card files were proven first
    // (ties in the order found).
    std::vector<std::string> roots() const;
    size_t rootCount() const { return roots_.size(); }

    // The rank of the copy root at which `lowerDrive` (an ASCII-lowercased drive path) is the
    // copy of the card file at `place`; rootCount() when at none.
    size_t rootOf(const Place& place, std::string_view lowerDrive) const;
    // Whether `lowerDrive` lies below some copy root.
    bool isUnderRoot(std::string_view lowerDrive) const;
    // How many trailing components of `lowerDrive` equal those of `place` (at most all).
    static size_t sharedTail(const Place& place, std::string_view lowerDrive);
    // How unlikely a drive file modified at `copy` is the copy of a card file modified at
    // `card` (seconds since 1970) by its date alone: 0 not before it (within the 2 s of the
    // coarsest file-system times), 1 before it by a whole number of hours (up to 14: a time
    // zone read another way), 2 before it otherwise.
    static int timeDoubt(double card, double copy);
    // A file's modification time in seconds since 1970; none when it cannot be read.
    static std::optional<double> modified(const char* path);

    // How likely `lowerDrive` is the copy of the card file at `place` (modified at `card`, when
    // known) by where it lies and when it was modified (asked only when the card file's time is
    // known): the copy root it lies at, the components of the place it does not share, its
    // date's doubt (2 when its time cannot be read). Smaller is likelier, in that order.
    struct Rank {
        size_t root = 0;
        size_t unshared = 0;
        int doubt = 0;
    };
    Rank rank(const Place& place, std::optional<double> card, std::string_view lowerDrive,
              const std::function<std::optional<double>()>& copyModified) const;

private:
    struct Root {
        std::string text;   // ends in "/"
        std::string lower;  // the same, ASCII-lowercased
        int proven = 0;     // card files proven at it
    };
    std::vector<std::string> prefixes_;  // the card root's spellings, each ending in "/"
    std::vector<Root> roots_;            // in rank order
};

}  // namespace tessaline
