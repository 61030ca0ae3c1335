#pragma once
// The scan run of the Scan section, of a card against granted drives, for end-to-end tests:
// no fingerprint cache, two fingerprint threads, and what the report says is only on the card.
// Blocks; any thread.

#include "BrindlecoveApp/ViewModels/ScanEvent.hpp"
#include "Tessaline/MetadataReader/MetadataReader.hpp"
#include "Tessaline/Report/VerificationReport.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace brindlecove::testing {

class LoopVolumeSet;

// The report of a scan of `card` against the drive granted as `label` in the grants file
// `grants`; null (with a test failure naming the scan's message) when the scan failed.
// `makeReader`, when given, makes the metadata reader of the card's and the drive's clips;
// `onEvent`, when given, receives the scan's events on the scan's thread.
std::shared_ptr<const tessaline::VerificationReport> scanAgainstGrantedDrive(
    const std::filesystem::path& card, const std::string& label, const std::filesystem::path& grants,
    std::function<std::shared_ptr<tessaline::MetadataReader>()> makeReader = {},
    std::function<void(const ScanEvent&)> onEvent = {});

// A loop-mounted card of `fsType` ("CARD_<fsType>") and an ext4 drive ("BACKUP_<fsType>", of
// `driveMiB`), the drive granted in the grants file `grants` under `label`.
struct CardAndDrive {
    std::filesystem::path card, driveRoot;
    std::string label;
};
CardAndDrive cardAndGrantedDrive(LoopVolumeSet& loops, const std::string& fsType, const std::filesystem::path& grants,
                                 int driveMiB = 64);

// The places on the card (below its root) of the other files the report found on no drive, sorted.
std::vector<std::string> placesOnlyOnCard(const tessaline::VerificationReport& report);

}  // namespace brindlecove::testing
