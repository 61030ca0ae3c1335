#include "Support/CardScanReport.hpp"

#include "Tessaline/CardPrep/CardFileReads.hpp"
#include "Tessaline/CardPrep/CardFileSet.hpp"
#include "Tessaline/Grouping/Grouper.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include "Tessaline/Matcher/Matcher.hpp"
#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"
#include "Tessaline/Scanner/FileTreeWalker.hpp"
#include "Tessaline/Scanner/FolderScanner.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

#include <ctime>
#include <unordered_set>

namespace brindlecove::testing {

std::shared_ptr<const tessaline::VerificationReport> scanCard(const std::filesystem::path& card,
                                                              const std::vector<std::filesystem::path>& drives) {
    using namespace tessaline;
    FolderScanner scanner;
    NativeMetadataReader reader;
    ScanResult cardScan = scanner.scan(card, false);
    // As the scan run does: every file the erase deletes is recorded, and those the scanner
    // passes over are other files to prove (their drive copies looked for everywhere).
    CardFileSet cardFiles = CardFileSet::read(card);
    const std::string root = card.native();
    std::unordered_set<std::string> listed, names;
    for (const auto* list : {&cardScan.mediaFiles, &cardScan.sidecarFiles, &cardScan.otherFiles})
        for (const auto& file : *list) listed.insert(file.url.native());
    for (const auto& record : cardFiles.files)
        if (!listed.count(root + "/" + record.relative))
            cardScan.otherFiles.push_back({root + "/" + record.relative, MediaFile::Kind::other, record.byteSize});
    for (const auto& file : cardScan.otherFiles) names.insert(asciiLowercased(lastComponent(file.url)));
    std::vector<Fingerprint> cardPrints;
    for (const auto& file : cardScan.mediaFiles) cardPrints.push_back(reader.fingerprint(file.url));
    std::vector<Fingerprint> drivePrints;
    std::vector<MediaFile> driveOthers;
    for (const auto& drive : drives) {
        const ScanResult driveScan = scanner.scan(drive, false, card);
        for (const auto& file : driveScan.mediaFiles) drivePrints.push_back(reader.fingerprint(file.url));
        driveOthers.insert(driveOthers.end(), driveScan.sidecarFiles.begin(), driveScan.sidecarFiles.end());
        driveOthers.insert(driveOthers.end(), driveScan.otherFiles.begin(), driveScan.otherFiles.end());
        FileTreeWalker::Options options;
        options.wantsName = [&](std::string_view name) { return names.count(asciiLowercased(name)) > 0; };
        FileTreeWalker::walk(drive, options, [&](const FileTreeWalker::File& file) {
            driveOthers.push_back({drive / std::string(file.relative), MediaFile::Kind::other,
                                   static_cast<int64_t>(file.status.st_size)});
        });
    }
    const auto groups = Grouper().group(cardPrints, cardScan.sidecarFiles);
    auto results = Matcher().match(groups, drivePrints, card);
    // The proofs' reads give the records their digests, as in the scan run.
    CardFileReads reads(card);
    ChecksumEngine checksum;
    checksum.observeReads(reads.observer());
    const MatchVerifier verifier(std::move(checksum), card);
    results = verifier.verify(results, drivePrints, [] { return false; });
    auto others = verifier.verifyOtherFiles(OtherFile::toProve(cardScan, results), driveOthers, [] { return false; });
    const auto numbering = CardFileComparison::between(cardFiles.mount, cardFiles.mount);
    reads.applyTo(cardFiles.files, numbering);
    CardFileSet::changedSince(card, cardFiles.files, numbering);
    return std::make_shared<const VerificationReport>(card, drives, static_cast<EpochSeconds>(std::time(nullptr)),
                                                      std::move(results), std::nullopt, cardScan.unreadableFolders,
                                                      std::move(others), cardFiles.files, cardFiles.mount);
}

}  // namespace brindlecove::testing
