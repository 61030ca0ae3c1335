#include "GrantedDriveScan.hpp"

#include "BrindlecoveApp/ViewModels/ScanRun.hpp"
#include "Support/LoopVolumeSet.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace brindlecove::testing {

std::shared_ptr<const tessaline::VerificationReport> scanAgainstGrantedDrive(
    const std::filesystem::path& card, const std::string& label, const std::filesystem::path& grants,
    std::function<std::shared_ptr<tessaline::MetadataReader>()> makeReader,
    std::function<void(const ScanEvent&)> onEvent) {
    using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;
    ScanRun::Environment environment;
    environment.bookmarkStoreURL = grants;
    environment.openCache = [] { return nullptr; };
    environment.fingerprintThreads = 2;
    environment.makeReader = std::move(makeReader);
    auto outcome = ScanRun::perform({card, {label}, false, false}, environment, {}, onEvent);
    auto* report = std::get_if<ReportPtr>(&outcome);
    EXPECT_TRUE(report) << std::get<ScanFailure>(outcome).message;
    return report ? *report : nullptr;
}

CardAndDrive cardAndGrantedDrive(LoopVolumeSet& loops, const std::string& fsType, const std::filesystem::path& grants,
                                 int driveMiB) {
    CardAndDrive volumes;
    volumes.card = loops.add(fsType, "CARD_" + fsType).mountPoint();
    volumes.driveRoot = loops.add("ext4", "BACKUP_" + fsType, driveMiB).mountPoint();
    tessaline::SecurityScopedBookmarkStore(grants).grant(volumes.driveRoot);
    volumes.label = tessaline::SecurityScopedBookmarkStore(grants).grantedVolumeLabels().back();
    return volumes;
}

std::vector<std::string> placesOnlyOnCard(const tessaline::VerificationReport& report) {
    std::vector<std::string> places;
    for (const auto& file : report.otherFilesOnlyOnCard()) places.push_back(report.placeOnCard(file.url));
    std::sort(places.begin(), places.end());
    return places;
}

}  // namespace brindlecove::testing
