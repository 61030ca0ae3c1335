#pragma once
// Turns the fingerprinted media files and the sidecar files of one card into clip groups:
// spanned videos, RAW+JPEG pairs, bursts, then singles, each step taking only what the steps
// before it left. Reads no file; linear in the number of files apart from sorting.
// Pure; safe on any thread. Drive files are never grouped.

#include "Tessaline/Grouping/ClipGroup.hpp"
#include "Tessaline/Scanner/MediaFile.hpp"

#include <vector>

namespace tessaline {

struct Grouper {
    // Every media file lands in exactly one group. Groups are sorted by capture date (undated
    // last), then by the first primary's full path. Empty media gives no groups.
    std::vector<ClipGroup> group(const std::vector<Fingerprint>& media, const std::vector<MediaFile>& sidecars) const;
};

}  // namespace tessaline
