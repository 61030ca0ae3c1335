#pragma once
// Shared pieces of the erase tests: a card erase view model over the real system, real
// camera files on a card with their backup copies, and hand-made reports.

#include "Support/AppTestSandbox.hpp"
#include "Support/LoopVolumeSet.hpp"

#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "Tessaline/Report/VerificationReport.hpp"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace brindlecove::testing {

using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;

// Two real JPEGs (distinct capture dates) under DCIM/100CANON of `card`, copied to `drive`
// when it is not empty. Returns the card files.
std::vector<std::filesystem::path> shootStills(const std::filesystem::path& card, const std::filesystem::path& drive,
                                               int count = 2, int firstNumber = 1);

// A report of `card` whose clips (one per file) have the given statuses, with the identity of
// the volume holding the card and the records of the card's files as they are now.
ReportPtr handMadeReport(const std::filesystem::path& card,
                         const std::vector<std::pair<std::filesystem::path, tessaline::MatchStatus>>& clips);

QString qstr(const std::filesystem::path& path);

// The view model over the real system, with the folder panel answering `card`.
std::unique_ptr<CardPrepViewModel> realCardPrep(CardPrepBackend backend = CardPrepBackend::standard());

// Picks `card` and waits for its count.
void pickAndCount(CardPrepViewModel& vm, const std::filesystem::path& card);

// Waits for the erase to end (done or failed).
bool waitForEraseEnd(CardPrepViewModel& vm, int timeoutMs = 30'000);

// The gate's verdict on the card for `report` once the card is counted and checked (gate()
// says `checking` until then).
VerificationStanding verdictOf(CardPrepViewModel& vm, const ReportPtr& report, int timeoutMs = 30'000);

// The names directly in a folder.
std::vector<std::string> topLevel(const std::filesystem::path& folder);

}  // namespace brindlecove::testing
