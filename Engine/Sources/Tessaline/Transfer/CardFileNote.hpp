#pragma once
// One file of the card that a transfer's verdict must name beside its outcomes: a file it did
// not prove although the card would lose it to an erase, or a file it stored under another
// name. Every kind but `storedUnderOtherName` keeps the transfer from calling the card safe
// to reuse. Plain value.

#include "Tessaline/Copy/CopyEngine.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

struct CardFileNote {
    enum class Kind {
        // A file of the scan a rescue came from that neither the scan nor the rescue proved.
        onlyOnCard,
        // Added, removed or changed on the card while the copy ran (seen when it ended).
        changedOnCard,
        // Copied and proven, but under another name, where a scan does not count it: a file
        // that is no clip is proven only by a copy of its own name.
        storedWhereScanMissesIt,
        // Copied and proven under another name; a clip, which a scan finds under any name.
        storedUnderOtherName,
    };
    Kind kind = Kind::onlyOnCard;
    std::string relativePath;  // below the copy root, as the outcomes spell it
    std::string reason;        // the words the exports show after the path
    std::string storedAs;      // the two stored kinds: the copy's path below the destination

    bool keepsCardUnsafe() const { return kind != Kind::storedUnderOtherName; }
    bool operator==(const CardFileNote&) const = default;

    // "changed on the card during the copy — copy again"
    static const char* changedText;
    // "added to the card during the copy — copy again": a file the copy never saw.
    static const char* addedText;

    // What a list of notes that keep the card unsafe says as one: "The card still holds 2
    // files found nowhere else" when a rescue left them, else "1 file on the card is not
    // proven by this copy".
    static std::string unprovenHeading(const std::vector<CardFileNote>& unproven);

    // The notes of the outcomes stored under a name that is not their own (a "_N" name taken
    // because their name held another file), in outcome order. The way out it names for a
    // file a scan misses: an empty folder, with the folder structure kept when the copy was
    // flat (there two card files of one name meet in any folder).
    static std::vector<CardFileNote> storedUnderOtherNames(const std::vector<CopyEngine::FileOutcome>& outcomes,
                                                           const std::filesystem::path& destination,
                                                           bool preserveStructure);
    // Whether a card scan finds the file at `relativePath` (below the card root) under any
    // name: a clip, which it matches by camera metadata. Every other file (a sidecar, a
    // hidden file, a camera's support file, a file in a folder the scanner passes over) it
    // proves only by a drive file of the same name.
    static bool scanFindsUnderAnyName(std::string_view relativePath);
};

}  // namespace tessaline
