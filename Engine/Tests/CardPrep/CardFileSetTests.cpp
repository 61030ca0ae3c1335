// The set of files an erase deletes: everything below the items the erase removes, whatever
// its name, but OS litter (told by its bytes) and the spared system folders; never through a
// link or into another mount; and records that tell a rewrite at the same size from the file
// that was recorded, at any date a file system keeps.

#include "Tessaline/CardPrep/CardFileSet.hpp"

#include "Support/LitterFiles.hpp"
#include "Support/TestSandbox.hpp"

#include "Tessaline/Support/UniqueFd.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using testing::litterBytes;
using testing::writeFile;
using testing::writeLitter;
using testing::writePatternFile;

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
    for (const char* litter : {".DS_Store", "DCIM/._C0001.MP4", "DCIM/Thumbs.db", "desktop.ini"})
        writeLitter(card() / litter);
    for (const char* system : {".Trashes/x", ".Spotlight-V100/y", "System Volume Information/IndexerVolumeGuid",
                               "lost+found/z"})
        writeFile(card() / system, "spared");
    const int64_t litterBytes = static_cast<int64_t>(fs::file_size(card() / ".DS_Store") +
                                                     fs::file_size(card() / "DCIM/._C0001.MP4") +
                                                     fs::file_size(card() / "DCIM/Thumbs.db") +
                                                     fs::file_size(card() / "desktop.ini"));
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
    EXPECT_EQ(set.allBytes, 10 * 6 + 4 * 6 + litterBytes);
    EXPECT_EQ(set.erasedFileCount, 14) << "the erase deletes litter too, but not the spared folders";
    EXPECT_EQ(set.erasedBytes, 10 * 6 + litterBytes);
    EXPECT_TRUE(CardFileSet::isLitter("._anything"));
    EXPECT_TRUE(CardFileSet::isLitter("THUMBS.DB"));
    EXPECT_FALSE(CardFileSet::isLitter("._"));
    EXPECT_FALSE(CardFileSet::isLitter("takes.db"));

    EXPECT_THROW(CardFileSet::read(sandbox / "missing"), std::exception);
}

TEST_F(CardFileSetTest, ALitterNameHoldingAnythingButWhatItsMakerWritesIsAFileToErase) {
    // Litter as the systems write it, in every form the test knows: kept out of the set.
    writeLitter(card() / "DCIM/100MEDIA/._C0001.MP4");
    writeLitter(card() / "Footage/.DS_Store");
    writeLitter(card() / "Footage/THUMBS.DB");
    writeLitter(card() / "Desktop.ini");
    const std::string ini = litterBytes("desktop.ini");
    std::string utf16("\xFF\xFE", 2);
    for (const char c : ini) utf16 += std::string{c, '\0'};
    writeFile(card() / "DCIM/desktop.ini", utf16);
    writeFile(card() / "PRIVATE/desktop.ini", "\xEF\xBB\xBF" + ini);

    // The same names over other bytes: each a file of its own.
    writePatternFile(card() / "DCIM/100MEDIA/._C0002.MP4", 49'000);  // a clip given an AppleDouble name
    writePatternFile(card() / "Footage/Thumbs.db", 3 * 1024 * 1024);
    writeFile(card() / "desktop.ini", "Shot list for day 2\r\nScene 4 take 2 is the keeper\r\n");
    writeFile(card() / "Notes/desktop.ini", "[.ShellClassInfo]\n" + std::string(64 * 1024, ';'));  // over 64 KiB
    writeFile(card() / "Notes/.DS_Store", "");
    writeFile(card() / "Notes/._take", std::string("\x00\x05\x16", 3));  // cut short of its magic
    writeFile(card() / "Notes2/desktop.ini", "[.ShellClassInfo]\r\nmore notes here\r\n");
    std::string utf16Notes("\xFF\xFE", 2);
    for (const char c : std::string("notes\r\n")) utf16Notes += std::string{c, '\0'};
    writeFile(card() / "Notes3/desktop.ini", utf16Notes);

    const CardFileSet set = CardFileSet::read(card());
    EXPECT_EQ(paths(set), (std::vector<std::string>{"DCIM/100MEDIA/._C0002.MP4", "Footage/Thumbs.db", "Notes/.DS_Store",
                                                   "Notes/._take", "Notes/desktop.ini", "Notes2/desktop.ini",
                                                   "Notes3/desktop.ini", "desktop.ini"}));

    // Judged on the file the caller stat'ed: an entry replaced since is no litter.
    const UniqueFd folder(::open((card() / "Footage").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat litter {}, other {};
    ASSERT_EQ(::fstatat(folder.get(), "THUMBS.DB", &litter, AT_SYMLINK_NOFOLLOW), 0);
    ASSERT_EQ(::fstatat(folder.get(), "Thumbs.db", &other, AT_SYMLINK_NOFOLLOW), 0);
    EXPECT_TRUE(CardFileSet::isLitter(folder.get(), "THUMBS.DB", litter));
    EXPECT_FALSE(CardFileSet::isLitter(folder.get(), "THUMBS.DB", other));
    // A link in its place is never read through.
    fs::rename(card() / "Footage/THUMBS.DB", card() / "Footage/real.db");
    fs::create_symlink("real.db", card() / "Footage/THUMBS.DB");
    EXPECT_FALSE(CardFileSet::isLitter(folder.get(), "THUMBS.DB", litter));
}

TEST_F(CardFileSetTest, RecordsTellARewriteAtTheSameSizeFromTheRecordedFile) {
    writeFile(card() / "DCIM/100CANON/IMG_0004.JPG", "0123456789");
    writeFile(card() / "NOTES.TXT", "take two");
    CardFileSet before = CardFileSet::read(card());
    ASSERT_EQ(before.files.size(), 2u);
    EXPECT_TRUE(CardFileSet::changedSince(card(), before.files).empty());
    EXPECT_TRUE(CardFileSet::differences(before.files, CardFileSet::read(card()).files, true).empty());

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
    EXPECT_EQ(CardFileSet::differences(before.files, now, true),
              (std::vector<std::string>{"A.TXT", "DCIM/100CANON/IMG_0004.JPG", "NOTES.TXT"}));
    EXPECT_EQ(CardFileSet::changedSince(card(), before.files),
              (std::vector<std::string>{"DCIM/100CANON/IMG_0004.JPG", "NOTES.TXT"}));
}

}  // namespace tessaline

namespace tessaline {

TEST_F(CardFileSetTest, FilesDatedFarOutsideTheNanosecondRangeAreRecordedAndComparedExactly) {
    TESSALINE_REQUIRE_ROOT();
    // ext4 keeps times up to 2446; 2300-01-01 lies past what nanoseconds in 64 bits can hold.
    testing::LoopVolume volume("ext4", 16, "CARD_2300");
    const fs::path clip = volume.mountPoint() / "DCIM/C0001.MP4";
    writeFile(clip, "take one");
    const struct timespec year2300 = {10'413'792'000, 123'456'789};
    const struct timespec times[2] = {year2300, year2300};
    ASSERT_EQ(::utimensat(AT_FDCWD, clip.c_str(), times, 0), 0);

    CardFileSet set = CardFileSet::read(volume.mountPoint());
    ASSERT_EQ(set.files.size(), 1u);
    EXPECT_EQ(set.files[0].modified, (CardFileRecord::Time{10'413'792'000, 123'456'789}));
    EXPECT_TRUE(CardFileSet::changedSince(volume.mountPoint(), set.files).empty());
    EXPECT_TRUE(CardFileSet::differences(set.files, CardFileSet::read(volume.mountPoint()).files, true).empty());

    // One nanosecond later, then one day later with the nanoseconds put back: both tell.
    for (const struct timespec later : {timespec{year2300.tv_sec, year2300.tv_nsec + 1},
                                        timespec{year2300.tv_sec + 86'400, year2300.tv_nsec}}) {
        const struct timespec moved[2] = {later, later};
        ASSERT_EQ(::utimensat(AT_FDCWD, clip.c_str(), moved, 0), 0);
        EXPECT_EQ(CardFileSet::changedSince(volume.mountPoint(), set.files), std::vector<std::string>{"DCIM/C0001.MP4"});
    }

    // 1600 lies before what ext4 keeps; tmpfs keeps it.
    testing::ScopedMount memory({"-t", "tmpfs", "tmpfs"}, sandbox / "memory");
    const fs::path old = memory.target() / "OLD.TXT";
    writeFile(old, "old");
    const struct timespec year1600 = {-11'676'096'000, 5};
    const struct timespec oldTimes[2] = {year1600, year1600};
    ASSERT_EQ(::utimensat(AT_FDCWD, old.c_str(), oldTimes, 0), 0);
    CardFileSet early = CardFileSet::read(memory.target());
    ASSERT_EQ(early.files.size(), 1u);
    EXPECT_EQ(early.files[0].modified, (CardFileRecord::Time{-11'676'096'000, 5}));
    EXPECT_TRUE(CardFileSet::changedSince(memory.target(), early.files).empty());
}

}  // namespace tessaline
