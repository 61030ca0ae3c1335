#include "Support/CardScanReport.hpp"

#include "Tessaline/Grouping/Grouper.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include "Tessaline/Matcher/Matcher.hpp"
#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"
#include "Tessaline/Scanner/FolderScanner.hpp"

#include <ctime>

namespace brindlecove::testing {

std::shared_ptr<const tessaline::VerificationReport> scanCard(const std::filesystem::path& card,
                                                              const std::vector<std::filesystem::path>& drives) {
    using namespace tessaline;
    FolderScanner scanner;
    NativeMetadataReader reader;
    const ScanResult cardScan = scanner.scan(card, false);
    std::vector<Fingerprint> cardPrints;
    for (const auto& file : cardScan.mediaFiles) cardPrints.push_back(reader.fingerprint(file.url));
    std::vector<Fingerprint> drivePrints;
    std::vector<MediaFile> driveOthers;
    for (const auto& drive : drives) {
        const ScanResult driveScan = scanner.scan(drive, false, card);
        for (const auto& file : driveScan.mediaFiles) drivePrints.push_back(reader.fingerprint(file.url));
        driveOthers.insert(driveOthers.end(), driveScan.sidecarFiles.begin(), driveScan.sidecarFiles.end());
        driveOthers.insert(driveOthers.end(), driveScan.otherFiles.begin(), driveScan.otherFiles.end());
    }
    const auto groups = Grouper().group(cardPrints, cardScan.sidecarFiles);
    auto results = Matcher().match(groups, drivePrints, card);
    const MatchVerifier verifier(ChecksumEngine(), card);
    results = verifier.verify(results, drivePrints, [] { return false; });
    auto others = verifier.verifyOtherFiles(OtherFile::toProve(cardScan, results), driveOthers, [] { return false; });
    return std::make_shared<const VerificationReport>(card, drives, static_cast<EpochSeconds>(std::time(nullptr)),
                                                      std::move(results), std::nullopt, cardScan.unreadableFolders,
                                                      std::move(others));
}

}  // namespace brindlecove::testing
