#pragma once
// The matcher's verdicts before any path is copied: for every card group its verdict by
// drive-file number and the drive files that survived its candidate tests, in drive order.
// Groups with the same undated key share one list of candidates, so a card of thousands of
// same-size frames costs memory in proportion to its frames plus the drive files, not their
// product. MatchVerifier proves these claims and copies only the paths that proved.
//
// Refers to the card groups and drive fingerprints given to Matcher::claim(), which must
// outlive it. Plain value otherwise; safe to read on any thread.

#include "Tessaline/Grouping/ClipGroup.hpp"
#include "Tessaline/Matcher/MatchResult.hpp"

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace tessaline {

class MatchClaims {
public:
    using Index = uint32_t;
    static constexpr Index none = std::numeric_limits<Index>::max();

    struct Claim {
        MatchStatus::Kind kind = MatchStatus::Kind::missing;
        // confirmed: the drive file chosen; mismatch: the same-named one; possible duplicate:
        // the first candidate; missing: none.
        Index drive = none;
        // The candidate list (confirmed and possible duplicate), or none.
        Index candidates = none;
        // Missing only: the first primary fits no drive file but another primary does, so
        // the verifier proves the members to name the ones without a copy.
        bool membersOnDrives = false;
    };

    MatchClaims(const std::vector<ClipGroup>& groups, const std::vector<Fingerprint>& drives)
        : groups_(&groups), drives_(&drives), claims_(groups.size()) {}

    size_t size() const { return claims_.size(); }
    const ClipGroup& group(size_t g) const { return (*groups_)[g]; }
    const std::vector<Fingerprint>& drives() const { return *drives_; }
    const Claim& claim(size_t g) const { return claims_[g]; }
    // The drive files that fit group `g`'s key, in drive order (ascending numbers); empty for
    // a name mismatch or a missing group.
    std::span<const Index> candidates(size_t g) const;

    // The matcher's verdict on group `g` with paths: a possible duplicate names every candidate.
    MatchStatus status(size_t g) const;
    // One result per group with the matcher's verdicts (paths copied for every candidate).
    std::vector<MatchResult> results() const;
    // The drive files that fit some group's key but were no candidate because they lie in the
    // card's own file system at or below the card root's place (a bind mount of the card, a
    // second mount of its device), each once, in drive order: the verifier names the ones
    // on another device as not counted.
    const std::vector<Index>& passedOver() const { return passedOver_; }
    // The matcher's capture-time tolerance, which the verifier's tests of other members of a
    // clip against drive files use as well.
    double captureTimeTolerance() const { return captureTimeTolerance_; }

    // Building (Matcher only): a new candidate list, its number returned.
    Index addCandidates(std::span<const Index> drives);
    void set(size_t g, Claim claim) { claims_[g] = claim; }
    // Drive numbers in any order, repeats allowed: kept sorted, each once.
    void setPassedOver(std::vector<Index> drives);
    void setCaptureTimeTolerance(double seconds) { captureTimeTolerance_ = seconds; }

private:
    const std::vector<ClipGroup>* groups_;
    const std::vector<Fingerprint>* drives_;
    std::vector<Claim> claims_;
    std::vector<Index> members_;                    // every list, one after another
    std::vector<std::pair<Index, Index>> lists_;    // a list's [start, end) in members_
    std::vector<Index> passedOver_;
    double captureTimeTolerance_ = 5.0;
};

}  // namespace tessaline
