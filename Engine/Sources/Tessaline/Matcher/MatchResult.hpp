#pragma once
// One card clip and what became of it. Plain value.

#include "Tessaline/Grouping/ClipGroup.hpp"
#include "Tessaline/Matcher/MatchStatus.hpp"

#include <cstddef>

#include <string>
#include <vector>

namespace tessaline {

struct MatchResult {
    ClipGroup group;
    MatchStatus status = MatchStatus::missing();
    // For a missing clip of several primary files whose members the byte proof examined: one
    // entry per primary file, true where that file has a proven copy on a drive. Empty when
    // no member was proven (the matcher found no copy, or the clip is proven as a whole).
    std::vector<bool> membersProven;

    bool isMissing() const { return status.kind() == MatchStatus::Kind::missing; }
    // Whether primary file `member` has a proven copy: every member of a proven clip, the
    // members marked in `membersProven` of a missing one, none of a name mismatch.
    bool memberProven(size_t member) const;
    // The positions of the primary files without a proven copy, in group order (all of them
    // for a missing clip without member proof; none for a proven clip).
    std::vector<size_t> unprovenMembers() const;
    // The first primary file's name as raw bytes; "?" for a group without primaries.
    std::string primaryName() const;
    // One line for logs, e.g. "confirmed    A001.MOV  →  /drive/A001.MOV"; valid UTF-8.
    std::string description() const;
};

// The results ordered by lower-cased primaryName, then by the first primary's full path
// (byte order; "" without primaries); equal keys keep their order.
std::vector<MatchResult> alphabetical(std::vector<MatchResult> results);
// The same order as positions into `results`, without copying them (large reports).
std::vector<size_t> alphabeticalOrder(const std::vector<MatchResult>& results);

}  // namespace tessaline
