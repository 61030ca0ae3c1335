// The mount watcher's view of the table: which visible mounts went and came between two
// looks, with and without the kernel's lasting mount IDs, and the IDs read from a real card.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Volumes/MountPoint.hpp"
#include "Tessaline/Volumes/MountSnapshot.hpp"

#include <fcntl.h>

#include <climits>

namespace tessaline {
namespace {

using Mount = MountSnapshot::Mount;
using Paths = std::vector<std::filesystem::path>;

MountSnapshot snapshotOf(std::map<int, Mount> mounts) { return MountSnapshot{std::move(mounts)}; }

bool kernelGivesLastingIds() { return lastingMountId(AT_FDCWD, "/", 0).value_or(0) > INT32_MAX; }

TEST(MountSnapshotTests, ARemountTellsItselfOnlyByTheLastingId) {
    const Mount card{"/media/u/CARD", 0x0701, std::nullopt, true};
    const MountSnapshot before = snapshotOf({{40, card}, {41, {"/media/u/DRIVE", 0x0702, std::nullopt, true}}});

    // Without lasting IDs, the same table ID, place and device is the same mount: a card
    // unmounted and mounted again in between cannot be seen.
    auto changes = MountSnapshot::between(before, before);
    EXPECT_TRUE(changes.unmounted.empty() && changes.mounted.empty());

    // With them, the new mounting went and came, though every other number is the same.
    Mount first = card, second = card;
    first.lastingId = (1ULL << 31) + 7;
    second.lastingId = (1ULL << 31) + 9;
    changes = MountSnapshot::between(snapshotOf({{40, first}}), snapshotOf({{40, second}}));
    EXPECT_EQ(changes.unmounted, Paths{"/media/u/CARD"});
    EXPECT_EQ(changes.mounted, Paths{"/media/u/CARD"});
    changes = MountSnapshot::between(snapshotOf({{40, first}}), snapshotOf({{40, first}}));
    EXPECT_TRUE(changes.unmounted.empty() && changes.mounted.empty());
    // One look without the lasting ID (the mount point covered meanwhile) falls back.
    changes = MountSnapshot::between(snapshotOf({{40, first}}), snapshotOf({{40, card}}));
    EXPECT_TRUE(changes.unmounted.empty() && changes.mounted.empty());

    // A reused table ID with another device or place is another mount either way; mounts
    // that are no cards or drives give nothing.
    Mount other = card;
    other.deviceNumber = 0x0703;
    Mount hidden{"/run/user/0", 0x0030, std::nullopt, false};
    changes = MountSnapshot::between(before, snapshotOf({{40, other}, {42, hidden}}));
    EXPECT_EQ(changes.unmounted, (Paths{"/media/u/CARD", "/media/u/DRIVE"}));
    EXPECT_EQ(changes.mounted, Paths{"/media/u/CARD"});
}

TEST(MountSnapshotTests, ARealCardCarriesItsLastingIdAndARemountChangesIt) {
    TESSALINE_REQUIRE_ROOT();
    if (!kernelGivesLastingIds()) GTEST_SKIP() << "the kernel gives no lasting mount IDs (Linux 6.8 and later do)";
    testing::LoopVolume card("ext4", 16, "SNAPSHOT");
    auto find = [&](const MountSnapshot& snapshot) -> std::optional<Mount> {
        for (const auto& [id, mount] : snapshot.mounts)
            if (mount.mountPoint == card.mountPoint()) return mount;
        return std::nullopt;
    };
    const MountSnapshot before = MountSnapshot::take(MountTable::current());
    const auto mounted = find(before);
    ASSERT_TRUE(mounted);
    EXPECT_TRUE(mounted->visible);
    EXPECT_EQ(mounted->lastingId, lastingMountId(AT_FDCWD, card.mountPoint().c_str(), 0));
    card.unmount();
    card.remount();
    const MountSnapshot after = MountSnapshot::take(MountTable::current());
    ASSERT_TRUE(find(after));
    EXPECT_NE(find(after)->lastingId, mounted->lastingId);
    const auto changes = MountSnapshot::between(before, after);
    EXPECT_NE(std::find(changes.mounted.begin(), changes.mounted.end(), card.mountPoint()), changes.mounted.end());
    EXPECT_NE(std::find(changes.unmounted.begin(), changes.unmounted.end(), card.mountPoint()), changes.unmounted.end());
}

}  // namespace
}  // namespace tessaline
