// The one label rule, on real loop-mounted volumes.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Volumes/VolumeLabel.hpp"

namespace tessaline {
namespace {

using testing::LoopVolume;

TEST(VolumeLabelTests, Ext4LabelForRootAndNestedFiles) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 32, "Backup Drive");
    testing::writeFile(drive.mountPoint() / "DCIM/100EOS/IMG_0001.CR3", "x");
    EXPECT_EQ(volumeLabel(drive.mountPoint()), "Backup Drive");
    EXPECT_EQ(volumeLabel(drive.mountPoint() / "DCIM/100EOS/IMG_0001.CR3"), "Backup Drive");
}

TEST(VolumeLabelTests, ExfatCardLabelThroughFuse) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("exfat", 32, "EOS_DIGITAL");
    EXPECT_EQ(volumeLabel(card.mountPoint()), "EOS_DIGITAL");
}

TEST(VolumeLabelTests, UnlabeledVolumeIsNamedAfterItsMountFolder) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, "");
    EXPECT_EQ(volumeLabel(card.mountPoint() / "."), card.mountPoint().filename().string());
}

TEST(VolumeLabelTests, MissingPathHasNoLabel) {
    EXPECT_FALSE(volumeLabel("/no/such/card/anywhere"));
    EXPECT_FALSE(volumeLabel(""));
}

}  // namespace
}  // namespace tessaline
