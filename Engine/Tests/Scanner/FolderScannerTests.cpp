#include "Tessaline/Scanner/FolderScanner.hpp"

#include "Tessaline/Scanner/ScanError.hpp"
#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;

namespace {

// Paths below `root`, in result order.
std::vector<std::string> relativePaths(const std::vector<MediaFile>& files, const fs::path& root) {
    std::vector<std::string> paths;
    for (const auto& f : files) paths.push_back(f.url.native().substr(root.native().size() + 1));
    return paths;
}

using Names = std::vector<std::string>;

class FolderScannerTest : public SandboxedTest {
protected:
    fs::path root() const { return sandbox.path(); }
    void touch(const std::string& relative, const std::string& bytes = "x") { writeFile(root() / relative, bytes); }
    ScanResult scan(bool includeAll = false) const { return FolderScanner().scan(root(), includeAll); }
};

}  // namespace

TEST_F(FolderScannerTest, EmptyFolderGivesNothing) {
    ScanResult r = scan();
    EXPECT_TRUE(r.mediaFiles.empty());
    EXPECT_TRUE(r.sidecarFiles.empty());
    EXPECT_EQ(r.skippedCount, 0);
    EXPECT_EQ(r.totalCount(), 0);
    EXPECT_TRUE(r.unreadableFolders.empty());
}

TEST_F(FolderScannerTest, RootThatCannotBeEnumeratedThrowsWithItsPath) {
    fs::path missing = root() / "nope";
    try {
        FolderScanner().scan(missing.native() + "/", false);
        FAIL() << "expected ScanError";
    } catch (const ScanError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot enumerate folder: " + missing.native());
    }
    touch("file.mov");
    EXPECT_THROW(FolderScanner().scan(root() / "file.mov", false), ScanError);
}

TEST_F(FolderScannerTest, ClassifiesMediaSidecarsAndJunkInTheDocumentedOrder) {
    for (const char* name : {"A001.MOV", "IMG_0001.JPG", "C0001.MP4", "take.Wav", "raw.cr3"}) touch(name);
    for (const char* name : {"C0001M01.XML", "IMG_0001.XMP", "A001.thm"}) touch(name);
    // Junk by extension and by name (case-insensitive); hidden by name; a *file* named
    // like a junk folder is skipped by the name test.
    for (const char* name : {"Thumbs.DB", "desktop.ini", "AUTORUN.INF", "VOLUME_ID", "foo.plist", "icon.ICO",
                             ".DS_Store", "._A001.MOV", "MISC"})
        touch(name);
    touch("notes.txt");
    touch("README");

    ScanResult r = scan(false);
    EXPECT_EQ(relativePaths(r.mediaFiles, root()), (Names{"A001.MOV", "C0001.MP4", "IMG_0001.JPG", "raw.cr3", "take.Wav"}));
    EXPECT_EQ(relativePaths(r.sidecarFiles, root()), (Names{"A001.thm", "C0001M01.XML", "IMG_0001.XMP"}));
    for (const auto& f : r.mediaFiles) EXPECT_EQ(f.kind, MediaFile::Kind::media);
    for (const auto& f : r.sidecarFiles) EXPECT_EQ(f.kind, MediaFile::Kind::sidecar);
    EXPECT_EQ(r.skippedCount, 9 + 2);  // the junk and hidden files, notes.txt and README
    EXPECT_EQ(r.totalCount(), 8);

    // The unclassified files are listed as other files (an erase deletes them too).
    EXPECT_EQ(relativePaths(r.otherFiles, root()), (Names{"README", "notes.txt"}));
    for (const auto& f : r.otherFiles) EXPECT_EQ(f.kind, MediaFile::Kind::other);

    // With every file type included, the unclassified files become media; junk stays junk.
    ScanResult all = scan(true);
    EXPECT_EQ(all.mediaFiles.size(), 7u);
    EXPECT_EQ(all.skippedCount, 9);
    EXPECT_TRUE(all.otherFiles.empty());
}

TEST_F(FolderScannerTest, ADriveWalkListsOnlyTheOtherFilesItIsAskedFor) {
    touch("PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", "cpi");
    touch("PRIVATE/AVCHD/BDMV/INDEX.BDM", "index");
    touch("Project/edit.prproj", "project");
    touch("NOTES.TXT", "notes");
    const std::unordered_set<std::string> wanted{"00000.cpi", "notes.txt"};
    ScanResult r = FolderScanner().scan(root(), false, std::nullopt, &wanted);
    EXPECT_EQ(relativePaths(r.otherFiles, root()), (Names{"NOTES.TXT", "PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI"}));
    EXPECT_EQ(r.otherFiles[0].byteSize, 5);
    EXPECT_EQ(r.skippedCount, 4) << "counted as before, listed or not";
    const std::unordered_set<std::string> none;
    EXPECT_TRUE(FolderScanner().scan(root(), false, std::nullopt, &none).otherFiles.empty());
}

TEST_F(FolderScannerTest, ADriveWalkListsOnlyTheSidecarsItIsAskedForAndEveryMediaFile) {
    touch("Day1/C0001.MP4", "clip");
    touch("Day1/C0001M01.XML", "<xml/>");
    touch("Day1/C0002.MP4", "clip");
    touch("Day1/C0002M01.XML", "<xml/>");
    touch("Day2/c0001m01.xml", "<other/>");
    const std::unordered_set<std::string> wanted{"c0001m01.xml"};
    ScanResult r = FolderScanner().scan(root(), false, std::nullopt, &wanted);
    EXPECT_EQ(relativePaths(r.sidecarFiles, root()), (Names{"Day1/C0001M01.XML", "Day2/c0001m01.xml"}));
    EXPECT_EQ(r.sidecarFiles[1].byteSize, 8);
    EXPECT_EQ(relativePaths(r.mediaFiles, root()), (Names{"Day1/C0001.MP4", "Day1/C0002.MP4"}));
    EXPECT_EQ(scan().sidecarFiles.size(), 3u) << "a card walk lists every sidecar";
}

TEST_F(FolderScannerTest, SizesComeFromTheWalk) {
    touch("clip.mov", std::string(12345, 'a'));
    touch("empty.jpg", "");
    ScanResult r = scan();
    ASSERT_EQ(r.mediaFiles.size(), 2u);
    EXPECT_EQ(r.mediaFiles[0].byteSize, 12345);
    EXPECT_EQ(r.mediaFiles[1].byteSize, 0);
}

TEST_F(FolderScannerTest, HiddenAndJunkFoldersCountOnceAndAreNeverVisited) {
    for (int i = 0; i < 100; ++i) touch(".Trashes/501/f" + std::to_string(i) + ".mov");
    touch("CANONMSC/M0100.CTG");
    touch("CANONMSC/deep/clip.mov");
    touch("lost+found/#12345.mov");
    touch(".hidden/clip.mov");
    touch("System Volume Information/IndexerVolumeGuid");
    // Junk folder names are case-sensitive: these are walked.
    touch("canonmsc/clip.mov");
    touch("misc/clip.mov");
    ScanResult r = scan();
    EXPECT_EQ(relativePaths(r.mediaFiles, root()), (Names{"canonmsc/clip.mov", "misc/clip.mov"}));
    EXPECT_EQ(r.skippedCount, 5);
}

TEST_F(FolderScannerTest, TheNameTestDoesNotApplyToTheRoot) {
    for (const char* name : {".card", "MISC"}) {
        writeFile(root() / name / "clip.mov", "x");
        ScanResult r = FolderScanner().scan(root() / name, false);
        EXPECT_EQ(r.mediaFiles.size(), 1u) << name;
        EXPECT_EQ(r.skippedCount, 0) << name;
    }
}

TEST_F(FolderScannerTest, SortsByFullPathBytes) {
    for (const char* name : {"a/b.mov", "a.mov", "B.mov", "a/B.mov", "\xC3\xA9.mov", "z.mov", "\xFF.mov"}) touch(name);
    ScanResult r = scan();
    // Upper case before lower case, "." before "/", bytes >= 0x80 after ASCII (unsigned order).
    EXPECT_EQ(relativePaths(r.mediaFiles, root()),
              (Names{"B.mov", "a.mov", "a/B.mov", "a/b.mov", "z.mov", "\xC3\xA9.mov", "\xFF.mov"}));
}

TEST_F(FolderScannerTest, LinksAndSpecialFilesAreNeverFollowedOrCounted) {
    TempFolder outside;
    writeFile(outside / "elsewhere.mov", "x");
    writeFile(outside / "folder/inside.mov", "x");
    touch("real.mov");
    fs::create_symlink(outside / "elsewhere.mov", root() / "link.mov");
    fs::create_symlink(outside / "folder", root() / "linkedFolder");
    fs::create_symlink(root() / "real.mov", root() / "loop.mov");
    fs::create_symlink("dangling-target", root() / "dangling.mov");
    ASSERT_EQ(mkfifo((root() / "pipe.mov").c_str(), 0644), 0);
    // A hidden link is still counted once by the name test, like any hidden item.
    fs::create_symlink(outside / "folder", root() / ".hiddenLink");

    ScanResult r = scan(true);
    EXPECT_EQ(relativePaths(r.mediaFiles, root()), (Names{"real.mov"}));
    EXPECT_EQ(r.skippedCount, 1);
    EXPECT_TRUE(r.unreadableFolders.empty());
}

TEST_F(FolderScannerTest, UnreadableFoldersAreListedAndTheWalkGoesOn) {
    touch("DCIM/100CANON/IMG_0001.JPG");
    touch("DCIM/101CANON/IMG_0002.JPG");
    touch("DCIM/102CANON/IMG_0003.JPG");
    touch("PRIVATE/M4ROOT/CLIP/C0001.MP4");
    fs::permissions(root(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    ASSERT_EQ(chmod((root() / "DCIM/101CANON").c_str(), 0), 0);
    ASSERT_EQ(chmod((root() / "PRIVATE/M4ROOT").c_str(), 0311), 0);  // can enter, cannot list

    std::string out = runUnprivileged([&] {
        ScanResult r = FolderScanner().scan(root(), false);
        std::ostringstream text;
        text << r.skippedCount << "\n";
        for (const auto& f : r.mediaFiles) text << "M " << f.url.native().substr(root().native().size()) << "\n";
        for (const auto& f : r.unreadableFolders) text << "U " << f.native().substr(root().native().size()) << "\n";
        return text.str();
    });
    EXPECT_EQ(out,
              "0\n"
              "M /DCIM/100CANON/IMG_0001.JPG\n"
              "M /DCIM/102CANON/IMG_0003.JPG\n"
              "U /DCIM/101CANON\n"
              "U /PRIVATE/M4ROOT\n");
}

TEST_F(FolderScannerTest, DeepTreesDoNotRunOutOfDescriptors) {
    fs::path deep = root();
    for (int depth = 0; depth < 120; ++depth) {
        deep /= "d";
        writeFile(deep / ("clip" + std::to_string(depth) + ".mov"), "x");
    }
    ASSERT_EQ(chmod(root().c_str(), 0755), 0);
    std::string out = runUnprivileged([&] {
        struct rlimit limit {32, 32};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return std::string("setrlimit failed");
        ScanResult r = FolderScanner().scan(root(), false);
        return std::to_string(r.mediaFiles.size()) + " " + std::to_string(r.unreadableFolders.size());
    });
    EXPECT_EQ(out, "120 0");
}

TEST_F(FolderScannerTest, ExcludedSubtreeIsNeitherWalkedNorCounted) {
    touch("backup/a.mov");
    touch("card/DCIM/b.mov");
    touch("card/.hidden");
    touch(".card-hidden/c.mov");
    FolderScanner scanner;
    // By path, with a trailing slash.
    ScanResult byPath = scanner.scan(root(), false, root() / "card/");
    EXPECT_EQ(relativePaths(byPath.mediaFiles, root()), (Names{"backup/a.mov"}));
    EXPECT_EQ(byPath.skippedCount, 1);  // .card-hidden only
    // By identity: another spelling of the same folder.
    TempFolder elsewhere;
    fs::create_symlink(root() / "card", elsewhere / "cardlink");
    ScanResult byIdentity = scanner.scan(root(), false, elsewhere / "cardlink");
    EXPECT_EQ(relativePaths(byIdentity.mediaFiles, root()), (Names{"backup/a.mov"}));
    // A hidden excluded folder is not counted either (card/.hidden is).
    ScanResult hidden = scanner.scan(root(), false, root() / ".card-hidden");
    EXPECT_EQ(hidden.skippedCount, 1);
    EXPECT_EQ(relativePaths(hidden.mediaFiles, root()), (Names{"backup/a.mov", "card/DCIM/b.mov"}));
    // Excluding the root itself leaves nothing.
    EXPECT_EQ(scanner.scan(root() / "card", false, root() / "card").totalCount(), 0);
}

TEST(FolderScannerVolume, Ext4CardWithLostAndFound) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "CARD");
    writeFile(card.mountPoint() / "DCIM/100CANON/IMG_0001.CR3", "raw");
    writeFile(card.mountPoint() / "DCIM/100CANON/IMG_0001.XMP", "xmp");
    ASSERT_TRUE(fs::exists(card.mountPoint() / "lost+found"));
    chmod(card.mountPoint().parent_path().c_str(), 0755);
    chmod(card.mountPoint().c_str(), 0755);
    chmod((card.mountPoint() / "DCIM").c_str(), 0755);
    chmod((card.mountPoint() / "DCIM/100CANON").c_str(), 0755);
    // A user cannot read lost+found; it must not make the card "not fully read".
    std::string out = runUnprivileged([&] {
        ScanResult r = FolderScanner().scan(card.mountPoint(), false);
        return std::to_string(r.mediaFiles.size()) + " " + std::to_string(r.sidecarFiles.size()) + " " +
               std::to_string(r.skippedCount) + " " + std::to_string(r.unreadableFolders.size());
    });
    EXPECT_EQ(out, "1 1 1 0");
}
