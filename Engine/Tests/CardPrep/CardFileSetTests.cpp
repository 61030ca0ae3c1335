// The set of files an erase deletes: everything below the items the erase removes, whatever
// its name, but OS litter and the spared system folders; never through a link or into another
// mount; and records that tell a rewrite at the same size from the file that was recorded.

#include "Tessaline/CardPrep/CardFileSet.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using testing::writeFile;

class CardFileSetTest : public testing::SandboxedTest {
protected:
    fs::path card() const { return sandbox / "CARD"; }

    std::vector<std::string> paths(const CardFileSet& set) const {
        std::vector<std::string> list;
        for (const auto& record : set.files) list.push_back(record.relative);
        return list;
    }
};

}  // namespace

TEST_F(CardFileSetTest, HoldsEveryFileTheEraseDeletesButLitterAndSparedSystemFolders) {
    for (const char* file : {"DCIM/100MEDIA/MISC/C0002.MP4", "DCIM/.pending/C0003.MP4", "Footage/THMBNL/A0004.MOV",
                             "Camera settings.ini", "Shot list.plist", "DCIM/takes.db", "AUTORUN.INF", "VOLUME_ID",
                             "DCIM/.Trashes/kept.txt", "CANONMSC/x.lnk"})
        writeFile(card() / file, "erased");
    for (const char* litter : {".DS_Store", "DCIM/._C0001.MP4", "DCIM/Thumbs.db", "desktop.ini", ".Trashes/x",
                               ".Spotlight-V100/y", "System Volume Information/IndexerVolumeGuid", "lost+found/z"})
        writeFile(card() / litter, "spared");
    // A link is erased as a link: its target is not counted, and a linked folder is not entered.
    writeFile(sandbox / "outside/secret.MOV", "not on the card");
    fs::create_directory_symlink(sandbox / "outside", card() / "linked");
    fs::create_symlink(sandbox / "outside/secret.MOV", card() / "link.MOV");

    const CardFileSet set = CardFileSet::read(card());
    EXPECT_EQ(paths(set), (std::vector<std::string>{"AUTORUN.INF", "CANONMSC/x.lnk", "Camera settings.ini",
                                                   "DCIM/.Trashes/kept.txt", "DCIM/.pending/C0003.MP4",
                                                   "DCIM/100MEDIA/MISC/C0002.MP4", "DCIM/takes.db",
                                                   "Footage/THMBNL/A0004.MOV", "Shot list.plist", "VOLUME_ID"}));
    EXPECT_TRUE(set.isComplete());
    EXPECT_EQ(set.allFileCount, 18) << "the screen's count holds litter and system files too";
    EXPECT_EQ(set.allBytes, 10 * 6 + 8 * 6);
    EXPECT_EQ(set.erasedFileCount, 14) << "the erase deletes litter too, but not the spared folders";
    EXPECT_EQ(set.erasedBytes, 10 * 6 + 4 * 6);
    EXPECT_TRUE(CardFileSet::isLitter("._anything"));
    EXPECT_TRUE(CardFileSet::isLitter("THUMBS.DB"));
    EXPECT_FALSE(CardFileSet::isLitter("._"));
    EXPECT_FALSE(CardFileSet::isLitter("takes.db"));

    EXPECT_THROW(CardFileSet::read(sandbox / "missing"), std::exception);
}

TEST_F(CardFileSetTest, RecordsTellARewriteAtTheSameSizeFromTheRecordedFile) {
    writeFile(card() / "DCIM/100CANON/IMG_0004.JPG", "0123456789");
    writeFile(card() / "NOTES.TXT", "take two");
    const CardFileSet before = CardFileSet::read(card());
    ASSERT_EQ(before.files.size(), 2u);
    EXPECT_TRUE(CardFileSet::changedSince(card(), before.files).empty());
    EXPECT_TRUE(CardFileSet::differences(before.files, CardFileSet::read(card()).files).empty());

    // One byte flipped, the size kept, the modification time a minute later.
    const fs::path still = card() / "DCIM/100CANON/IMG_0004.JPG";
    struct stat st {};
    ASSERT_EQ(::stat(still.c_str(), &st), 0);
    writeFile(still, "0123456780");
    const struct timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec + 60, st.st_mtim.tv_nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, still.c_str(), times, 0), 0);
    EXPECT_EQ(CardFileSet::changedSince(card(), before.files), std::vector<std::string>{"DCIM/100CANON/IMG_0004.JPG"});

    // Its old modification time put back: the change time still tells.
    const struct timespec old[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, still.c_str(), old, 0), 0);
    EXPECT_EQ(CardFileSet::changedSince(card(), before.files), std::vector<std::string>{"DCIM/100CANON/IMG_0004.JPG"});

    // Added, removed, grown: each named once, in path order.
    fs::remove(card() / "NOTES.TXT");
    writeFile(card() / "A.TXT", "new");
    const auto now = CardFileSet::read(card()).files;
    EXPECT_EQ(CardFileSet::differences(before.files, now),
              (std::vector<std::string>{"A.TXT", "DCIM/100CANON/IMG_0004.JPG", "NOTES.TXT"}));
    EXPECT_EQ(CardFileSet::changedSince(card(), before.files),
              (std::vector<std::string>{"DCIM/100CANON/IMG_0004.JPG", "NOTES.TXT"}));
}

}  // namespace tessaline
