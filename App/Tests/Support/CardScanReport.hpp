#pragma once
// A real scan of a card against drive folders, as the scan run makes it (folder walk,
// metadata read from the files, grouping, matching, byte proof of the clips and of the other
// files beside them), for tests of the screens that read a verification report. Blocks; any
// thread.

#include "Tessaline/Report/VerificationReport.hpp"

#include <filesystem>
#include <memory>
#include <vector>

namespace brindlecove::testing {

std::shared_ptr<const tessaline::VerificationReport> scanCard(const std::filesystem::path& card,
                                                              const std::vector<std::filesystem::path>& drives);

}  // namespace brindlecove::testing
