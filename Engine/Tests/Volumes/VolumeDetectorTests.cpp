// Listing mounted volumes, on real loop-mounted cards and drives.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Volumes/VolumeDetector.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

namespace tessaline {
namespace {

using testing::LoopVolume;
using testing::runCommand;
using testing::SandboxedTest;

std::vector<VolumeInfo> listedAt(const std::vector<VolumeInfo>& volumes, const std::filesystem::path& url) {
    std::vector<VolumeInfo> found;
    std::copy_if(volumes.begin(), volumes.end(), std::back_inserter(found),
                 [&](const VolumeInfo& v) { return v.url == url; });
    return found;
}

// Unmounts a mount made by the test itself, on every path.
struct MountGuard {
    std::filesystem::path target;
    ~MountGuard() {
        if (runCommand({"umount", target.string()}).exitCode != 0) runCommand({"umount", "-l", target.string()});
    }
};

TEST(VolumeDetectorTests, CandidatesAreExactlyTheNonInternalVolumes) {
    // Other tests mount and unmount volumes at the same time: compare listings taken while
    // the mount table stood still (the same listing before and after).
    std::vector<VolumeInfo> all, candidates;
    for (int attempt = 0; attempt < 50; ++attempt) {
        all = VolumeDetector::listMountedVolumes();
        candidates = VolumeDetector::listCandidateVolumes();
        if (VolumeDetector::listMountedVolumes() == all) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::vector<VolumeInfo> external;
    std::copy_if(all.begin(), all.end(), std::back_inserter(external), [](auto& v) { return !v.isInternal; });
    EXPECT_EQ(candidates, external);
    for (const VolumeInfo& volume : all) {
        EXPECT_FALSE(volume.label.empty());
        EXPECT_FALSE(volume.url.string().rfind("/proc", 0) == 0 || volume.url.string().rfind("/sys", 0) == 0);
        if (volume.url == "/") {
            EXPECT_TRUE(volume.isInternal);
        }
    }
}

TEST(VolumeDetectorTests, LoopCardsAreListedAsExternalWithTheirLabels) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 32, "SHOOT_DAY1");
    LoopVolume card("exfat", 32, "EOS_DIGITAL");
    auto all = VolumeDetector::listMountedVolumes();
    auto driveEntries = listedAt(all, drive.mountPoint());
    ASSERT_EQ(driveEntries.size(), 1u);
    EXPECT_EQ(driveEntries[0].label, "SHOOT_DAY1");
    EXPECT_FALSE(driveEntries[0].isInternal);
    EXPECT_TRUE(driveEntries[0].isEjectable);
    EXPECT_TRUE(driveEntries[0].isCandidateCardOrDrive());
    auto cardEntries = listedAt(VolumeDetector::listCandidateVolumes(), card.mountPoint());
    ASSERT_EQ(cardEntries.size(), 1u);
    EXPECT_EQ(cardEntries[0].label, "EOS_DIGITAL");
}

class VolumeDetectorMountTests : public SandboxedTest {};

TEST_F(VolumeDetectorMountTests, BindMountIsListedOnce) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 32, "BIND_ME");
    std::filesystem::create_directories(sandbox / "bound");
    ASSERT_EQ(runCommand({"mount", "--bind", drive.mountPoint().string(), (sandbox / "bound").string()}).exitCode, 0);
    MountGuard guard{sandbox / "bound"};
    auto all = VolumeDetector::listMountedVolumes();
    EXPECT_EQ(listedAt(all, drive.mountPoint()).size(), 1u);
    EXPECT_TRUE(listedAt(all, sandbox / "bound").empty());
}

TEST_F(VolumeDetectorMountTests, UnlabeledCardIsNamedAfterItsMountFolderWithSpaces) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, "", /*mount=*/false);
    std::filesystem::path target = sandbox / "NO NAME";
    std::filesystem::create_directories(target);
    ASSERT_EQ(runCommand({"mount", "-t", "ext4", card.device(), target.string()}).exitCode, 0);
    MountGuard guard{target};
    auto entries = listedAt(VolumeDetector::listMountedVolumes(), target);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].label, "NO NAME");
}

}  // namespace
}  // namespace tessaline
