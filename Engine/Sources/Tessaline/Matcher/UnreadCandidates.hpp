#pragma once
// A card file the proof left unproven because its reading stopped at the bound the card sets
// (a few times the card's own bytes) before the file's remaining candidates were read: `count`
// drive files of its kind (its fingerprint's, or for a file that is no clip's, its name's and
// size's) were never read, `namedNotRead` of them among the `named` drive files of its name
// and size. Reports name each one with the reason, so a file left missing by the bound is
// never left unexplained, and never said to be "not found under its name" while a file of
// its name was left unread. Plain value.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tessaline {

struct UnreadCandidates {
    std::filesystem::path cardFile;
    int64_t byteSize = 0;      // the card file's
    int64_t count = 0;         // drive files of its kind not read
    int64_t named = 0;         // drive files of its name and size
    int64_t namedNotRead = 0;  // ... not read (also counted in `count`)
    bool operator==(const UnreadCandidates&) const = default;

    // With every file of its name read: "not found under its name or near its time; 18,000
    // files of its kind on the drives were not read" (one: "1 file of its kind on the drives
    // was not read"). With some not read: "under its name: 60 files of its name and size, 12
    // not read" and, when files of its kind under other names were not read either, "; 18,000
    // other files of its kind on the drives were not read". Counts grouped by "," in every
    // locale.
    std::string reasonText() const;
    // The drive files of its kind under other names not read.
    int64_t otherCount() const { return count > namedNotRead ? count - namedNotRead : 0; }

    // Sorted by card file, each once.
    static void tidy(std::vector<UnreadCandidates>& list);
};

}  // namespace tessaline
