#include "Tessaline/Matcher/MatchClaims.hpp"

#include <algorithm>

namespace tessaline {

std::span<const MatchClaims::Index> MatchClaims::candidates(size_t g) const {
    const Index list = claims_[g].candidates;
    if (list == none) return {};
    return std::span<const Index>(members_).subspan(lists_[list].first, lists_[list].second - lists_[list].first);
}

MatchClaims::Index MatchClaims::addCandidates(std::span<const Index> drives) {
    const auto start = static_cast<Index>(members_.size());
    members_.insert(members_.end(), drives.begin(), drives.end());
    lists_.emplace_back(start, static_cast<Index>(members_.size()));
    return static_cast<Index>(lists_.size() - 1);
}

void MatchClaims::setPassedOver(std::vector<Index> drives) {
    std::sort(drives.begin(), drives.end());
    drives.erase(std::unique(drives.begin(), drives.end()), drives.end());
    passedOver_ = std::move(drives);
}

MatchStatus MatchClaims::status(size_t g) const {
    const Claim& claim = claims_[g];
    switch (claim.kind) {
    case MatchStatus::Kind::confirmed: return MatchStatus::confirmed((*drives_)[claim.drive].url);
    case MatchStatus::Kind::nameMatchMetadataMismatch:
        return MatchStatus::nameMatchMetadataMismatch((*drives_)[claim.drive].url);
    case MatchStatus::Kind::possibleDuplicate: {
        std::vector<std::filesystem::path> locations;
        const auto list = candidates(g);
        locations.reserve(list.size());
        for (Index i : list) locations.push_back((*drives_)[i].url);
        return MatchStatus::possibleDuplicate(std::move(locations));
    }
    case MatchStatus::Kind::missing: break;
    }
    return MatchStatus::missing();
}

std::vector<MatchResult> MatchClaims::results() const {
    std::vector<MatchResult> results;
    results.reserve(size());
    for (size_t g = 0; g < size(); ++g) results.push_back({group(g), status(g)});
    return results;
}

}  // namespace tessaline
