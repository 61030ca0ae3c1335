#include "BrindlecoveApp/ViewModels/RescueDestination.hpp"

#include "Support/ReportFixtures.hpp"
#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <map>

using namespace brindlecove;
using namespace brindlecove::testing;
using tessaline::MatchStatus;
namespace fs = std::filesystem;

namespace {

std::shared_ptr<const tessaline::VerificationReport> confirmedAt(std::vector<std::string> drivePaths) {
    std::vector<tessaline::MatchResult> results;
    int i = 0;
    for (const auto& path : drivePaths)
        results.push_back(clip({fingerprint("/card/F" + std::to_string(i++) + ".MOV", 1)}, MatchStatus::confirmed(path)));
    results.push_back(clip({fingerprint("/card/M.MOV", 1)}, MatchStatus::missing()));
    return makeReport(std::move(results));
}

// Mount points by longest matching prefix, like a mount table.
RescueDestination::MountPointOf mounts(std::vector<QString> points) {
    return [points](const QString& folder) -> std::optional<QString> {
        QString best = "/";
        for (const QString& point : points)
            if ((folder == point || folder.startsWith(point + "/")) && point.size() > best.size()) best = point;
        return best;
    };
}

}  // namespace

TEST(RescueDestination, CommonFolderOfConfirmedCopiesOnOneDrive) {
    auto report = confirmedAt({"/Volumes/BackupA/Shoot/DCIM/100CANON/IMG_0001.CR3",
                               "/Volumes/BackupA/Shoot/DCIM/101CANON/IMG_0101.CR3"});
    EXPECT_EQ(RescueDestination::commonFolderOfConfirmed(*report, nullptr), "/Volumes/BackupA/Shoot/DCIM");
    EXPECT_EQ(RescueDestination::commonFolderOfConfirmed(*report, mounts({"/Volumes/BackupA"})),
              "/Volumes/BackupA/Shoot/DCIM");
    // One folder: exactly that folder (dot components resolved).
    auto single = confirmedAt({"/media/u/B/Day1/./x/../A.MOV", "/media/u/B/Day1/B.MOV"});
    EXPECT_EQ(RescueDestination::commonFolderOfConfirmed(*single, mounts({"/media/u/B"})), "/media/u/B/Day1");
}

TEST(RescueDestination, NoSuggestionAboveADrive) {
    // The classic rule: fewer than three components left.
    auto twoVolumes = confirmedAt({"/Volumes/BackupA/Shoot/A.MOV", "/Volumes/BackupB/Shoot/B.MOV"});
    EXPECT_FALSE(RescueDestination::commonFolderOfConfirmed(*twoVolumes, nullptr));
    // Two drives under one mount parent share /media/<user>, which is on the system disk.
    auto twoDrives = confirmedAt({"/media/u/BackupA/Shoot/A.MOV", "/media/u/BackupB/Shoot/B.MOV"});
    EXPECT_EQ(RescueDestination::commonFolderOfConfirmed(*twoDrives, nullptr), "/media/u");
    EXPECT_FALSE(RescueDestination::commonFolderOfConfirmed(*twoDrives, mounts({"/media/u/BackupA", "/media/u/BackupB"})));
    auto runMedia = confirmedAt({"/run/media/u/A/x/A.MOV", "/run/media/u/B/x/B.MOV"});
    EXPECT_FALSE(RescueDestination::commonFolderOfConfirmed(*runMedia, mounts({"/run/media/u/A", "/run/media/u/B"})));
    // A drive nested under another's mount: one common prefix, two file systems.
    auto nested = confirmedAt({"/media/u/A/Day1/A.MOV", "/media/u/A/inner/Day1/B.MOV"});
    EXPECT_FALSE(RescueDestination::commonFolderOfConfirmed(*nested, mounts({"/media/u/A", "/media/u/A/inner"})));
    // A drive that is gone (its folder no longer resolves): no suggestion.
    auto gone = confirmedAt({"/media/u/A/Day1/A.MOV"});
    EXPECT_FALSE(RescueDestination::commonFolderOfConfirmed(
        *gone, [](const QString&) -> std::optional<QString> { return std::nullopt; }));
    // No confirmed result at all: duplicates and mismatches never suggest.
    auto none = makeReport({clip({fingerprint("/card/A.MOV", 1)}, MatchStatus::possibleDuplicate({"/media/u/A/x/A.MOV"})),
                            clip({fingerprint("/card/B.MOV", 1)}, MatchStatus::missing())});
    EXPECT_FALSE(RescueDestination::commonFolderOfConfirmed(*none, nullptr));
}

class RescueDestinationOnDisk : public tessaline::testing::SandboxedTest {};

TEST_F(RescueDestinationOnDisk, RealMountTableAndVolumeCheck) {
    // Folders of the sandbox all lie on one mount.
    const auto root = sandbox.path();
    std::filesystem::create_directories(root / "Shoot" / "Day1");
    std::filesystem::create_directories(root / "Shoot" / "Day2");
    auto report = confirmedAt({(root / "Shoot/Day1/A.MOV").string(), (root / "Shoot/Day2/B.MOV").string()});
    EXPECT_EQ(RescueDestination::commonFolderOfConfirmed(*report, RescueDestination::systemMountPoints()),
              QString::fromStdString((root / "Shoot").string()));

    auto pin = RescueDestination::stillAvailable(root / "Shoot", std::nullopt);
    ASSERT_TRUE(pin);
    EXPECT_TRUE(RescueDestination::stillAvailable(root / "Shoot", pin));
    // Never created: a folder that is not there is not available.
    EXPECT_FALSE(RescueDestination::stillAvailable(root / "Missing", pin));
    EXPECT_FALSE(std::filesystem::exists(root / "Missing"));
    // A folder on another volume than the one it was chosen on is not available.
    auto other = *pin;
    if (other.uuid) other.uuid = "00000000-0000-0000-0000-000000000000";
    else other.device += 1;
    EXPECT_FALSE(RescueDestination::stillAvailable(root / "Shoot", other));
    EXPECT_EQ(RescueDestination::unavailableText("/media/u/B/Shoot"),
              "The destination folder /media/u/B/Shoot isn't available — is the drive connected?");
}

TEST_F(RescueDestinationOnDisk, TwoDrivesUnderOneMountParentGiveNoSuggestion) {
    TESSALINE_REQUIRE_ROOT();
    // Two drives mounted side by side, as the desktop mounts them under /media/<user>.
    const auto parent = sandbox.path() / "media" / "crew";
    struct Mounts {
        std::vector<fs::path> points;
        ~Mounts() {
            for (const auto& point : points) tessaline::testing::runCommand({"umount", point.string()});
        }
    } mounted;
    for (const char* name : {"BackupA", "BackupB"}) {
        fs::create_directories(parent / name);
        auto result = tessaline::testing::runCommand({"mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", (parent / name).string()});
        ASSERT_EQ(result.exitCode, 0) << result.output;
        mounted.points.push_back(parent / name);
        fs::create_directories(parent / name / "Shoot");
    }
    auto report = confirmedAt({(parent / "BackupA/Shoot/A.MOV").string(), (parent / "BackupB/Shoot/B.MOV").string()});
    // The lexical rule alone would pick the mount parent, a folder of the system disk.
    EXPECT_EQ(RescueDestination::commonFolderOfConfirmed(*report, nullptr), QString::fromStdString(parent.string()));
    EXPECT_FALSE(RescueDestination::commonFolderOfConfirmed(*report, RescueDestination::systemMountPoints()));
    // Both copies on one of the drives: its folder, at or below its mount point.
    auto one = confirmedAt({(parent / "BackupA/Shoot/A.MOV").string(), (parent / "BackupA/Shoot/B.MOV").string()});
    EXPECT_EQ(RescueDestination::commonFolderOfConfirmed(*one, RescueDestination::systemMountPoints()),
              QString::fromStdString((parent / "BackupA/Shoot").string()));
}
