// Places within a file system: the same folder reached through its own mount, a bind mount
// and a link has one place; the rule that decides "at or below" on places.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Volumes/FileSystemPlaces.hpp"

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using testing::LoopVolume;
using testing::ScopedMount;
using testing::writeFile;

FileSystemPlace place(dev_t device, std::string path, std::optional<std::string> uuid = std::nullopt) {
    return FileSystemPlace{device, std::move(uuid), std::move(path)};
}

TEST(FileSystemPlaceTests, SameOrBelowWithinOneFileSystem) {
    const auto card = place(7, "/cards/A");
    EXPECT_TRUE(place(7, "/cards/A").isSameOrBelow(card));
    EXPECT_TRUE(place(7, "/cards/A/DCIM/x.mov").isSameOrBelow(card));
    EXPECT_FALSE(place(7, "/cards/A2/x.mov").isSameOrBelow(card));
    EXPECT_FALSE(place(7, "/cards").isSameOrBelow(card));
    EXPECT_TRUE(place(7, "/anything").isSameOrBelow(place(7, "/")));
    // Another file system, unless both carry the same UUID (two mounts of one device).
    EXPECT_FALSE(place(8, "/cards/A/x.mov").isSameOrBelow(card));
    EXPECT_FALSE(place(8, "/x", "U1").isSameOrBelow(place(7, "/", "U2")));
    EXPECT_FALSE(place(8, "/x", "U1").isSameOrBelow(place(7, "/")));
    EXPECT_TRUE(place(8, "/x", "U1").isSameOrBelow(place(7, "/", "U1")));
}

class FileSystemPlacesTest : public testing::SandboxedTest {};

TEST_F(FileSystemPlacesTest, OnePlaceThroughEveryMountAndLink) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "CARD");
    const fs::path root = card.mountPoint();
    writeFile(root / "DCIM/100CANON/A.MOV", "a");
    FileSystemPlaces places;  // made before the bind mounts below: it must find them anyway
    ScopedMount bound({"--bind", (root / "DCIM").string()}, sandbox / "bound");
    ScopedMount whole({"--bind", root.string()}, sandbox / "whole");
    fs::create_directory_symlink(bound.target() / "100CANON", sandbox / "link");

    auto atRoot = places.of(root);
    ASSERT_TRUE(atRoot.has_value());
    EXPECT_EQ(atRoot->path, "/");
    auto file = places.of(root / "DCIM/100CANON/A.MOV");
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->path, "/DCIM/100CANON/A.MOV");
    for (const fs::path& other : {bound.target() / "100CANON/A.MOV", whole.target() / "DCIM/100CANON/A.MOV",
                                  sandbox / "link/A.MOV"}) {
        auto same = places.of(other);
        ASSERT_TRUE(same.has_value()) << other;
        EXPECT_EQ(*same, *file) << other;
    }
    EXPECT_EQ(places.of(bound.target())->path, "/DCIM");
    EXPECT_TRUE(places.of(bound.target())->isSameOrBelow(*atRoot));

    // The root file system and a missing path.
    auto tmp = places.of(sandbox.path());
    ASSERT_TRUE(tmp.has_value());
    EXPECT_FALSE(tmp->isSameFileSystem(*atRoot));
    EXPECT_EQ(places.of(sandbox / "missing"), std::nullopt);
}

}  // namespace
}  // namespace tessaline
