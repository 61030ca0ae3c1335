#pragma once
// The copy's closing look at the card: when its last file is proven, the card's file set is
// read again and compared with the set it copied. A file added, removed or changed meanwhile
// was not copied as it stands, so the run cannot vouch for the card. The compare is
// CardFileComparison's: on FAT, exFAT and FUSE cards a file renumbered meanwhile is judged by
// its bytes against the digest of what was copied. Internal to the copy engine; blocks its
// caller.

#include "Tessaline/CardPrep/CardFileSet.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline::CardChangeCheck {

// The paths in which the card's files `now` (read from `folder`) differ from the records
// `before` (walked through the mount `beforeMount`; a record's digest, where known, is that
// of the bytes proven of it): added, removed or changed, in path order. `now` keeps what
// reading renumbered files again found. The one compare of an earlier walk of a card with a
// later one, for the copy and the rescue.
std::vector<std::string> differences(const std::vector<CardFileRecord>& before,
                                     const std::optional<CardFileMount>& beforeMount, CardFileSet& now,
                                     const std::filesystem::path& folder,
                                     const CardFileComparison::Progress& progress = {});

// The paths (relative, as in `copied`) added, removed or changed since `copied` was read from
// `folder` (lying at `placeOnCard` below the card root), and the folders that could not be
// read now; in path order. One walk of the card, the same as CardFileSet::read, plus a read
// of any file renumbered meanwhile. `copied` records carry the digests of the bytes copied.
// `progress(done, total)` (may be empty) counts the files of `copied` compared: none before
// the walk, all but the renumbered ones after it, then each renumbered one as it is read.
std::vector<std::string> changedSince(const CardFileSet& copied, const std::filesystem::path& folder,
                                      std::string_view placeOnCard,
                                      const CardFileComparison::Progress& progress = {});

}  // namespace tessaline::CardChangeCheck
