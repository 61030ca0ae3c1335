#pragma once
// A file on the card that is no clip's footage but that an erase deletes all the same: a
// sidecar of a clip the drives hold, or an other file (a sidecar that joined no clip, a
// camera's support file, a note, anything else that is neither hidden nor junk). The scan
// proves each one by a drive file of the same name and size with the same XXH64; the card
// is safe to erase only when every one is proven. Plain value.
//
// A sidecar of a clip that is missing or in doubt is not listed: it goes with its clip.

#include "Tessaline/Matcher/MatchResult.hpp"
#include "Tessaline/Scanner/ScanResult.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace tessaline {

struct OtherFile {
    enum class Role { sidecar, other };

    std::filesystem::path url;  // on the card, as the card walk found it
    int64_t byteSize = 0;       // from the walk
    Role role = Role::other;
    // The drive file proven to hold the same bytes; none: the file is only on the card.
    std::optional<std::filesystem::path> provenAt;

    bool isOnlyOnCard() const { return !provenAt; }
    bool operator==(const OtherFile&) const = default;

    // The files to prove after the clips were proven: the sidecars of the clips counted as
    // backed up (confirmed or possible duplicate), then the card walk's other files and the
    // sidecars that joined no clip, each file once, sorted by path; none proven yet.
    static std::vector<OtherFile> toProve(const ScanResult& cardScan, const std::vector<MatchResult>& results);
};

}  // namespace tessaline
