#pragma once
// Decides for every card clip whether the scanned drives hold a copy, by camera metadata
// (size, codec, frame size, capture time), never by name alone: a same-named file only
// explains a miss. Verdicts are provisional until MatchVerifier proves them by bytes.
// Reads no file's contents and keeps no state between calls; safe on any thread.

#include "Tessaline/Grouping/ClipGroup.hpp"
#include "Tessaline/Matcher/MatchClaims.hpp"
#include "Tessaline/Matcher/MatchResult.hpp"

#include <filesystem>
#include <optional>
#include <vector>

namespace tessaline {

struct Matcher {
    // Seconds two camera capture times may differ and still match (inclusive).
    double captureTimeTolerance = 5.0;

    // One result per card group, in the groups' order. `drives` is every drive file's
    // fingerprint in drive-list order; that order decides ties. Only a group's first primary
    // is matched here; the verifier proves the other members. A clip no drive file fits is a
    // name mismatch only when a drive file has its first primary's very name (case ignored,
    // extension included: a pair's JPEG is not "the same name" as its RAW), else missing.
    // Drive files at or below `cardRoot` are never candidates, so a card (or a folder on it)
    // scanned as a drive cannot be its own backup; nor are files on the card's file system
    // at or below the card root's place in it (FileSystemPlace), which catches the card's
    // folders reached through a bind mount. For that test the matcher stats the candidate
    // files (never all drive files) when the card root exists; it reads no file's contents.
    // Indexes the drive files by size once per call, and reads the drive names in one pass
    // only when some clip has no fitting drive file, so the cost grows with card groups plus
    // drive files, not their product.
    std::vector<MatchResult> match(const std::vector<ClipGroup>& card, const std::vector<Fingerprint>& drives,
                                   const std::optional<std::filesystem::path>& cardRoot = std::nullopt) const;

    // The same verdicts before any path is copied: each group's verdict by drive-file number
    // with its surviving candidates (shared by groups of one undated key), for MatchVerifier
    // to prove, and the fitting drive files passed over for lying in the card's place. `card`
    // and `drives` must outlive the claims. Time and memory grow with card groups plus drive
    // files, also when thousands of both share one key.
    MatchClaims claim(const std::vector<ClipGroup>& card, const std::vector<Fingerprint>& drives,
                      const std::optional<std::filesystem::path>& cardRoot = std::nullopt) const;
};

}  // namespace tessaline
