#pragma once
// A card file the proof left unproven because its reading stopped at the bound the card sets
// (a few times the card's own bytes) before the file's remaining candidates were read: its
// copy was found neither under its name, nor near its time, nor beside the copies of its
// folder's other files, and `count` drive files of its kind (its fingerprint's) were never
// read. Reports name each one with the reason, so a clip left missing by the bound is never
// left unexplained. Plain value.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tessaline {

struct UnreadCandidates {
    std::filesystem::path cardFile;
    int64_t byteSize = 0;  // the card file's
    int64_t count = 0;     // drive files of its kind not read
    bool operator==(const UnreadCandidates&) const = default;

    // "not found under its name or near its time; 18,000 files of its kind on the drives were
    // not read" (one: "1 file of its kind on the drives was not read"), the count grouped by
    // "," in every locale.
    std::string reasonText() const;

    // Sorted by card file, each once.
    static void tidy(std::vector<UnreadCandidates>& list);
};

}  // namespace tessaline
