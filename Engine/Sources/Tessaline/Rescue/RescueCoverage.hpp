#pragma once
// What a rescue copy leaves of a card unproven. A rescue copies only what its scan found on no
// drive; the card is safe to reuse after it only when every file an erase of the card would
// delete is then proven, by the scan it came from (a confirmed clip or duplicate, a missing
// clip's member with a proven copy, a proven sidecar or other file) or by the rescue itself (copied and verified where a scan counts
// it), and the card still holds those files as the scan found them. Blocks its caller (one
// walk of the card).

#include "Tessaline/CardPrep/CardFileComparison.hpp"
#include "Tessaline/Report/VerificationReport.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"

#include <vector>

namespace tessaline::RescueCoverage {

// The notes to add to the rescue's log `rescue` (whose outcomes and own notes are set): the
// card files of `report` that neither proved, each with the scan's reason (onlyOnCard), and
// the ones added, removed or changed on the card since the scan that the rescue did not
// prove (changedOnCard); relative to the card, in path order. A rescued file that changed
// after its copy was proven is named by the rescue's own closing look (a changedOnCard note of
// `rescue`, from CopyEngine's file-list copy) and not again here.
// `progress(done, total)` (may be empty) counts the files of the scan's list compared with
// the card as it is now: none before the walk, all but the renumbered ones after it, then each
// renumbered one as its bytes are read.
std::vector<CardFileNote> leftOnCard(const VerificationReport& report, const TransferLog& rescue,
                                     const CardFileComparison::Progress& progress = {});

}  // namespace tessaline::RescueCoverage
