// The bookmark record: its data form, and resolution through the file-system UUID on real
// loop-mounted volumes, including the refusals that keep writes off the internal disk.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Bookmarks/Bookmark.hpp"
#include "Tessaline/Support/FileErrors.hpp"

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using testing::LoopVolume;
using testing::runCommand;

class BookmarkTests : public testing::SandboxedTest {};

TEST_F(BookmarkTests, DataRoundTripKeepsNonUtf8PathsExact) {
    fs::path folder = sandbox / std::string("Card \xff\xfe clips");
    fs::create_directories(folder);
    Bookmark bookmark = Bookmark::create(folder, true);
    EXPECT_EQ(bookmark.path, folder.native());
    EXPECT_TRUE(bookmark.scoped);
    std::string data = bookmark.data();
    EXPECT_EQ(data.rfind("{\"v\":1,\"path64\":", 0), 0u) << data;
    auto decoded = Bookmark::fromData(data);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, bookmark);
    auto resolution = decoded->resolve(true);
    ASSERT_TRUE(resolution);
    EXPECT_EQ(resolution->url, folder);
    EXPECT_FALSE(resolution->isStale);
}

TEST_F(BookmarkTests, MalformedDataIsRefused) {
    EXPECT_FALSE(Bookmark::fromData(""));
    EXPECT_FALSE(Bookmark::fromData("[]"));
    EXPECT_FALSE(Bookmark::fromData("{\"v\":2}"));
    std::string data = Bookmark::create(sandbox.path(), false).data();
    std::string withoutScope = data.substr(0, data.find(",\"scoped\"")) + "}";
    EXPECT_FALSE(Bookmark::fromData(withoutScope));
    EXPECT_TRUE(Bookmark::fromData(data));
}

TEST_F(BookmarkTests, MissingPlaceCannotBeBookmarked) {
    EXPECT_THROW(Bookmark::create(sandbox / "absent", true), FileReadError);
}

TEST_F(BookmarkTests, ScopedResolutionNeedsAScopedBookmark) {
    Bookmark plain = Bookmark::create(sandbox.path(), false);
    EXPECT_FALSE(plain.resolve(true));
    EXPECT_TRUE(plain.resolve(false));
}

TEST_F(BookmarkTests, EditedRelativePathCannotClimbOut) {
    fs::create_directories(sandbox / "a/b");
    Bookmark bookmark = Bookmark::create(sandbox / "a/b", true);
    bookmark.relPath = "../../etc";
    EXPECT_FALSE(bookmark.resolve(true));
    bookmark.relPath = "/etc";
    EXPECT_FALSE(bookmark.resolve(true));
}

TEST_F(BookmarkTests, FollowsItsVolumeToAnotherMountPointAndNeverFallsBack) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 32, "BACKUP_1");
    fs::create_directories(drive.mountPoint() / "Shoots/Day1");
    Bookmark bookmark = Bookmark::create(drive.mountPoint() / "Shoots/Day1", true);
    ASSERT_TRUE(bookmark.fsUuid);
    EXPECT_EQ(bookmark.relPath, "Shoots/Day1");
    EXPECT_EQ(bookmark.fsLabel, "BACKUP_1");
    EXPECT_EQ(bookmark.resolve(true)->url, drive.mountPoint() / "Shoots/Day1");

    // Unmounted: the same folder made on the internal disk must not be taken for it.
    drive.unmount();
    fs::create_directories(drive.mountPoint() / "Shoots/Day1");
    EXPECT_FALSE(bookmark.resolve(true));
    EXPECT_FALSE(bookmark.resolve(false));
    fs::remove_all(drive.mountPoint() / "Shoots");

    // Mounted somewhere else: resolves there, and says it is stale.
    fs::path elsewhere = sandbox / "BACKUP_1 (2)";
    fs::create_directories(elsewhere);
    ASSERT_EQ(runCommand({"mount", "-t", "ext4", drive.device(), elsewhere.string()}).exitCode, 0);
    auto resolution = bookmark.resolve(true);
    runCommand({"umount", elsewhere.string()});
    ASSERT_TRUE(resolution);
    EXPECT_EQ(resolution->url, elsewhere / "Shoots/Day1");
    EXPECT_TRUE(resolution->isStale);
}

TEST_F(BookmarkTests, ReformattedVolumeIsAnotherVolume) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 32, "BACKUP_2");
    Bookmark bookmark = Bookmark::create(drive.mountPoint(), true);
    EXPECT_EQ(bookmark.relPath, "");
    drive.unmount();
    ASSERT_EQ(runCommand({"mkfs.ext4", "-q", "-F", "-L", "BACKUP_2", drive.device()}).exitCode, 0);
    drive.remount();
    EXPECT_FALSE(bookmark.resolve(true));
}

TEST_F(BookmarkTests, LinkLeadingOffTheVolumeIsRefused) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 32, "BACKUP_3");
    fs::create_directories(drive.mountPoint() / "Day1");
    Bookmark bookmark = Bookmark::create(drive.mountPoint() / "Day1", true);
    fs::remove(drive.mountPoint() / "Day1");
    fs::create_directory_symlink(sandbox.path(), drive.mountPoint() / "Day1");
    EXPECT_FALSE(bookmark.resolve(true));
}

TEST_F(BookmarkTests, FileIsNotAnAccessibleFolder) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 32, "BACKUP_4");
    fs::create_directories(drive.mountPoint() / "Day1");
    Bookmark bookmark = Bookmark::create(drive.mountPoint() / "Day1", true);
    fs::remove(drive.mountPoint() / "Day1");
    testing::writeFile(drive.mountPoint() / "Day1", "not a folder");
    EXPECT_FALSE(bookmark.resolve(true));
}

}  // namespace
}  // namespace tessaline
