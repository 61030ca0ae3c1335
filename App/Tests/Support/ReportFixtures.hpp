#pragma once
// Hand-made verification reports for the Report section's tests: clips of every status
// with the files they name, without a scan.

#include "Tessaline/Report/VerificationReport.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindlecove::testing {

// A fingerprint of `path` with `size` bytes; `date` (epoch seconds) counts as a camera date.
tessaline::Fingerprint fingerprint(const std::filesystem::path& path, int64_t size,
                                   std::optional<double> date = std::nullopt);

// One clip of the given primary files (and sidecars) with a status.
tessaline::MatchResult clip(std::vector<tessaline::Fingerprint> primaries, tessaline::MatchStatus status,
                            std::vector<std::filesystem::path> sidecars = {});

// A report of `results` for the card at `card`, with a fixed identity (nothing is read).
std::shared_ptr<const tessaline::VerificationReport> makeReport(
    std::vector<tessaline::MatchResult> results, const std::filesystem::path& card = "/media/u/CARD",
    std::vector<std::filesystem::path> unreadableFolders = {});
// `report` with the card's file set as a scan records it now (CardFileSet::read of its card).
std::shared_ptr<const tessaline::VerificationReport> withCardFiles(tessaline::VerificationReport report);

// A report of `missing` missing clips, `confirmed` confirmed ones (on /media/u/BACKUP/Day1)
// and `mismatched` name mismatches; the files are not on disk.
std::shared_ptr<const tessaline::VerificationReport> countsReport(int missing, int confirmed, int mismatched = 0,
                                                                  int duplicates = 0);

}  // namespace brindlecove::testing
