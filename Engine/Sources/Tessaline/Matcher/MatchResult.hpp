#pragma once
// One card clip and what became of it. Plain value.

#include "Tessaline/Grouping/ClipGroup.hpp"
#include "Tessaline/Matcher/MatchStatus.hpp"

#include <string>
#include <vector>

namespace tessaline {

struct MatchResult {
    ClipGroup group;
    MatchStatus status = MatchStatus::missing();

    bool isMissing() const { return status.kind() == MatchStatus::Kind::missing; }
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
