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

bool contains(const std::vector<VolumeInfo>& volumes, const VolumeInfo& volume) {
    return std::find(volumes.begin(), volumes.end(), volume) != volumes.end();
}

// The candidate listing against the full listings taken just before and just after it, as
// far as the live mount table allows: every candidate is external, and every volume listed
// both before and after (mounted all along) is a candidate exactly when it is external. A
// volume mounted or unmounted meanwhile by another program is in one listing only and is not
// judged. An empty text when the listing holds, else what is wrong.
std::string candidateMismatch() {
    const auto before = VolumeDetector::listMountedVolumes();
    const auto candidates = VolumeDetector::listCandidateVolumes();
    const auto after = VolumeDetector::listMountedVolumes();
    for (const VolumeInfo& candidate : candidates)
        if (candidate.isInternal) return "internal volume offered: " + candidate.url.string();
    for (const VolumeInfo& volume : before) {
        if (!contains(after, volume)) continue;
        if (contains(candidates, volume) == volume.isInternal)
            return (volume.isInternal ? "internal volume offered: " : "external volume left out: ") + volume.url.string();
    }
    // The candidates keep the full listing's order.
    std::vector<VolumeInfo> steady;
    for (const VolumeInfo& candidate : candidates)
        if (contains(before, candidate) && contains(after, candidate)) steady.push_back(candidate);
    std::vector<VolumeInfo> steadyExternal;
    for (const VolumeInfo& volume : before)
        if (!volume.isInternal && contains(after, volume)) steadyExternal.push_back(volume);
    if (steady != steadyExternal) return "the candidates are not in the listing's order";
    return {};
}

TEST(VolumeDetectorTests, CandidatesAreExactlyTheNonInternalVolumes) {
    // Other programs mount and unmount volumes while this runs (a volume unmounted and
    // mounted again between the listings can still mislead one reading): a listing that is
    // wrong in every one of a few readings is wrong.
    std::string mismatch;
    for (int attempt = 0; attempt < 5; ++attempt) {
        mismatch = candidateMismatch();
        if (mismatch.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(mismatch, "");
    for (const VolumeInfo& volume : VolumeDetector::listMountedVolumes()) {
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
    EXPECT_TRUE(cardEntries[0].hasOwnLabel);
    EXPECT_TRUE(driveEntries[0].hasOwnLabel);
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
    EXPECT_FALSE(entries[0].hasOwnLabel) << "the name is its folder's, not a label";
}

}  // namespace
}  // namespace tessaline
