#pragma once
// Look-alike card files for the tests of the erase's identity checks: files whose size and
// stamps pass for the originals', swapped in by folder renames. Throw std::runtime_error on
// failure.

#include "Tessaline/Scanner/CardFileRecord.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace tessaline::testing {

// Copies of the regular files below `from` at the same places below `to`: each of the same
// size with its first byte changed and the same modification time (on FUSE exFAT the change
// time follows it).
void makeLookAlikes(const std::filesystem::path& from, const std::filesystem::path& to);

// On the card at `root`, DCIM moves to the spared ".Trashes/OLD" and ".Trashes/LOOK" (made by
// makeLookAlikes) takes its place: two folder renames.
void swapInLookAlikes(const std::filesystem::path& root);
// The two renames undone.
void swapOutLookAlikes(const std::filesystem::path& root);

// Rewrites `file` in place with other bytes (its middle byte inverted) at the same size and
// puts its modification time back (on FUSE exFAT the change time follows it). Returns the
// new bytes.
std::string rewriteKeepingStamps(const std::filesystem::path& file);

// The card's file set as a scan that proved every file records it: each record with the
// digest of the file it describes. An erase then judges by their bytes the files FAT and exFAT
// number afresh when the kernel forgets them (a cache drop by any test running beside).
std::vector<CardFileRecord> provenRecords(const std::filesystem::path& root);

}  // namespace tessaline::testing
