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
    for (const auto& drive : drives)
        for (const auto& file : scanner.scan(drive, false, card).mediaFiles)
            drivePrints.push_back(reader.fingerprint(file.url));
    const auto groups = Grouper().group(cardPrints, cardScan.sidecarFiles);
    auto results = Matcher().match(groups, drivePrints, card);
    results = MatchVerifier(ChecksumEngine(), card).verify(results, drivePrints, [] { return false; });
    return std::make_shared<const VerificationReport>(card, drives, static_cast<EpochSeconds>(std::time(nullptr)),
                                                      std::move(results), std::nullopt, cardScan.unreadableFolders);
}

}  // namespace brindlecove::testing
