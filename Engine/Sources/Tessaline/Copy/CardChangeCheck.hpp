#pragma once
// The copy's closing look at the card: when its last file is proven, the card's file set is
// read again and compared with the set it copied. A file added, removed or changed meanwhile
// was not copied as it stands, so the run cannot vouch for the card. Internal to the copy
// engine; blocks its caller.

#include "Tessaline/CardPrep/CardFileSet.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline::CardChangeCheck {

// Whether inode numbers on the card's file system name files for good, so that a new number
// means a new file: false on FAT, exFAT and FUSE file systems, which hand out new numbers when
// the kernel forgets an entry, and when the file system cannot be told.
bool keepsInodeNumbers(const std::filesystem::path& card);

// The paths in which the card's files `now` (read from `folder`) differ from the records
// `before` (walked through the mount `beforeMount`): added, removed or changed, in path
// order. The one compare of an earlier walk of a card with a later one.
std::vector<std::string> differences(const std::vector<CardFileRecord>& before,
                                     const std::optional<CardFileMount>& beforeMount, const CardFileSet& now,
                                     const std::filesystem::path& folder);

// The paths (relative, as in `copied`) added, removed or changed since `copied` was read from
// `folder` (lying at `placeOnCard` below the card root), and the folders that could not be
// read now; in path order. One walk of the card, the same as CardFileSet::read.
std::vector<std::string> changedSince(const CardFileSet& copied, const std::filesystem::path& folder,
                                      std::string_view placeOnCard);

}  // namespace tessaline::CardChangeCheck
