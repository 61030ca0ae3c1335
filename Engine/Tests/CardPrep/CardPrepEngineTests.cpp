#include "Tessaline/CardPrep/CardPrepEngine.hpp"

#include "Tessaline/CardPrep/CardFileSet.hpp"

#include "Support/LookAlikeFiles.hpp"
#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

using tessaline::CameraFormatProfile;
using tessaline::CardPrepEngine;
using tessaline::testing::LoopVolume;
using tessaline::testing::ScopedMount;
using tessaline::testing::readFile;
using tessaline::testing::runCommand;
using tessaline::testing::writeFile;
using tessaline::testing::writePatternFile;
using Issue = CardPrepEngine::CardRootIssue;
namespace fs = std::filesystem;

namespace {

std::set<std::string> topLevel(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

// Fills a card like a camera and a computer would: media, hidden files, system items.
// Returns the logical bytes of everything that is not a system item.
int64_t fillCard(const fs::path& card) {
    writePatternFile(card / "DCIM/100CANON/IMG_0001.CR3", 300000, 1);
    writePatternFile(card / "DCIM/100CANON/MVI_0002.MP4", 1200001, 2);
    writeFile(card / "DCIM/100CANON/.hidden-thumb", "12345");
    writeFile(card / "MISC/AUTPRINT.MRK", "abc");
    writeFile(card / ".DS_Store", "0123456789");
    writeFile(card / "._IMG_0001.CR3", "xy");
    fs::create_directories(card / "EMPTY/DEEPER");
    writeFile(card / "System Volume Information/IndexerVolumeGuid", "spared");
    writeFile(card / ".Trashes/501/old.jpg", "spared too");
    return 300000 + 1200001 + 5 + 3 + 10 + 2;
}

// check() then prepare() with its facts, as the Erase section does.
CardPrepEngine::Summary checkAndPrepare(const fs::path& root, const CameraFormatProfile& profile,
                                        const std::function<bool()>& isCancelled = {},
                                        const std::function<void(const CardPrepEngine::Event&)>& onEvent = {}) {
    auto checked = CardPrepEngine::check(root);
    if (!checked.card) throw std::runtime_error("check refused " + root.string());
    return CardPrepEngine::prepare(root, *checked.card, profile, isCancelled, onEvent);
}

// The events of a run; the one after each file deleted apart from the others.
struct Recorded {
    std::vector<CardPrepEngine::Event> events;
    std::vector<CardPrepEngine::FilesDeleted> filesDeleted;
    std::function<void(const CardPrepEngine::Event&)> sink() {
        return [this](const CardPrepEngine::Event& e) {
            if (const auto* files = std::get_if<CardPrepEngine::FilesDeleted>(&e)) filesDeleted.push_back(*files);
            else events.push_back(e);
        };
    }
};

}  // namespace

class CardPrepEngineTest : public tessaline::testing::SandboxedTest {};

TEST_F(CardPrepEngineTest, ErasesExt4CardAndBuildsCanonLayout) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "EOS_DIGITAL");
    const fs::path root = card.mountPoint();
    int64_t bytes = fillCard(root);
    ASSERT_TRUE(fs::exists(root / "lost+found"));
    EXPECT_EQ(CardPrepEngine::validate(root), std::nullopt);
    EXPECT_EQ(CardPrepEngine::validate(root.string() + "/"), std::nullopt);

    Recorded recorded;
    auto summary = checkAndPrepare(root, *CameraFormatProfile::profile("canon-eos"), [] { return false; },
                                   recorded.sink());

    EXPECT_EQ(topLevel(root), (std::set<std::string>{"lost+found", "System Volume Information", ".Trashes", "DCIM",
                                                      "MISC"}));
    EXPECT_TRUE(fs::is_directory(root / "DCIM/100CANON"));
    EXPECT_TRUE(fs::is_empty(root / "DCIM/100CANON"));
    EXPECT_TRUE(fs::is_empty(root / "MISC"));
    EXPECT_EQ(readFile(root / "System Volume Information/IndexerVolumeGuid"), "spared");
    EXPECT_EQ(readFile(root / ".Trashes/501/old.jpg"), "spared too");

    EXPECT_EQ(summary.itemsDeleted, 5);  // DCIM, MISC, .DS_Store, ._IMG_0001.CR3, EMPTY
    EXPECT_EQ(summary.bytesFreed, bytes);
    EXPECT_EQ(summary.foldersCreated, (std::vector<std::string>{"DCIM/100CANON", "MISC"}));
    EXPECT_TRUE(summary.failures.empty());
    EXPECT_TRUE(summary.isClean());

    // planned, one deleting per item in listing order with its index, then creatingFolders;
    // and after each file deleted, how many of the planned ones are gone.
    ASSERT_EQ(recorded.events.size(), 7u);
    const auto planned = std::get<CardPrepEngine::Planned>(recorded.events[0]);
    EXPECT_EQ(planned, (CardPrepEngine::Planned{5, bytes, summary.filesDeleted}));
    ASSERT_GT(summary.filesDeleted, 3) << "the files inside DCIM and MISC are counted, not the items";
    ASSERT_EQ(recorded.filesDeleted.size(), size_t(summary.filesDeleted));
    for (int i = 0; i < summary.filesDeleted; ++i)
        EXPECT_EQ(recorded.filesDeleted[size_t(i)], (CardPrepEngine::FilesDeleted{i + 1, planned.fileCount}));
    std::set<std::string> deletedNames;
    for (int i = 0; i < 5; ++i) {
        const auto& d = std::get<CardPrepEngine::Deleting>(recorded.events[static_cast<size_t>(1 + i)]);
        EXPECT_EQ(d.index, i);
        EXPECT_EQ(d.total, 5);
        deletedNames.insert(d.name);
    }
    EXPECT_EQ(deletedNames, (std::set<std::string>{"DCIM", "MISC", ".DS_Store", "._IMG_0001.CR3", "EMPTY"}));
    EXPECT_EQ(std::get<CardPrepEngine::CreatingFolders>(recorded.events[6]).count, 2);
}

TEST_F(CardPrepEngineTest, EraseOnlyProfileOnExfatCardAndAgainOnAnEmptyCard) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("exfat", 64, "A001");
    const fs::path root = card.mountPoint();
    writePatternFile(root / "A001C001_230101_R1AB.RDC/A001C001_230101_R1AB_001.R3D", 70000);
    writeFile(root / "notes.txt", "n");
    ASSERT_EQ(CardPrepEngine::validate(root), std::nullopt);

    Recorded recorded;
    auto summary = checkAndPrepare(root, *CameraFormatProfile::profile("red"), {}, recorded.sink());
    EXPECT_TRUE(topLevel(root).empty());
    EXPECT_EQ(summary.itemsDeleted, 2);
    EXPECT_EQ(summary.bytesFreed, 70001);
    EXPECT_TRUE(summary.foldersCreated.empty());
    ASSERT_FALSE(recorded.events.empty());
    EXPECT_EQ(std::get<CardPrepEngine::CreatingFolders>(recorded.events.back()).count, 0);

    // A card holding nothing to erase plans 0 items, deletes nothing, and creates the folders;
    // a folder of the profile that already exists is listed too.
    fs::create_directory(root / "DCIM");
    writeFile(root / "DCIM/keep-me-not.jpg", "x");
    fs::remove_all(root / "DCIM");
    fs::create_directories(root / "System Volume Information");
    Recorded second;
    summary = checkAndPrepare(root, *CameraFormatProfile::profile("generic"), {}, second.sink());
    ASSERT_EQ(second.events.size(), 2u);
    EXPECT_EQ(std::get<CardPrepEngine::Planned>(second.events[0]), (CardPrepEngine::Planned{0, 0}));
    EXPECT_EQ(std::get<CardPrepEngine::CreatingFolders>(second.events[1]).count, 1);
    EXPECT_EQ(summary, (CardPrepEngine::Summary{0, 0, {"DCIM"}, {}, false, {}, 0, false, {"DCIM"}}));
    summary = checkAndPrepare(root, *CameraFormatProfile::profile("generic"), {});
    EXPECT_EQ(summary.foldersCreated, std::vector<std::string>{"DCIM"});  // existed, removed, made again
}

TEST_F(CardPrepEngineTest, NeverFollowsLinksNorEntersOtherMounts) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "CARD");
    const fs::path root = card.mountPoint();
    // Precious data outside the card, reachable through links on the card.
    writeFile(sandbox / "outside/precious.mov", "the only copy");
    fs::create_directory_symlink(sandbox / "outside", root / "link-to-folder");
    fs::create_symlink(sandbox / "outside/precious.mov", root / "link-to-file");
    fs::create_directories(root / "DCIM");
    fs::create_directory_symlink(sandbox / "outside", root / "DCIM/nested-link");
    // Another file system mounted inside the card, and one inside a folder of the card.
    ScopedMount inner({"-t", "tmpfs", "tmpfs"}, root / "MOUNTED");
    writeFile(root / "MOUNTED/inner.bin", "not the card's");
    ScopedMount deeper({"-t", "tmpfs", "tmpfs"}, root / "PRIVATE/M4ROOT");
    writeFile(root / "PRIVATE/M4ROOT/clip.mxf", "also not the card's");
    writeFile(root / "PRIVATE/own.xml", "card's own");
    writeFile(root / "after.jpg", "removed");

    auto summary = checkAndPrepare(root, *CameraFormatProfile::profile("generic"), {});

    EXPECT_EQ(readFile(sandbox / "outside/precious.mov"), "the only copy");
    EXPECT_FALSE(fs::exists(fs::symlink_status(root / "link-to-folder")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(root / "link-to-file")));
    EXPECT_EQ(readFile(root / "MOUNTED/inner.bin"), "not the card's");
    EXPECT_EQ(readFile(root / "PRIVATE/M4ROOT/clip.mxf"), "also not the card's");
    EXPECT_FALSE(fs::exists(root / "PRIVATE/own.xml"));  // the card's own file beside the mount goes
    EXPECT_FALSE(fs::exists(root / "after.jpg"));
    std::set<std::string> failures(summary.failures.begin(), summary.failures.end());
    EXPECT_EQ(failures, (std::set<std::string>{"MOUNTED", "PRIVATE"}));
    EXPECT_FALSE(summary.isClean());
    EXPECT_EQ(summary.itemsDeleted, 4);  // the two links, DCIM (with its link), after.jpg
    EXPECT_EQ(summary.bytesFreed, 7);
    EXPECT_EQ(summary.foldersCreated, std::vector<std::string>{"DCIM"});
}

TEST_F(CardPrepEngineTest, FailedItemIsListedAndNotCountedAndTheRestGoes) {
    TESSALINE_REQUIRE_ROOT();
    if (!tessaline::testing::haveProgram("chattr")) GTEST_SKIP() << "chattr is not installed; skipped";
    LoopVolume card("ext4", 64, "CARD");
    const fs::path root = card.mountPoint();
    writeFile(root / "A_LOCKED/locked.bin", "0123456789");
    writeFile(root / "A_LOCKED/free.bin", "01234");
    writeFile(root / "B.bin", "abc");
    ASSERT_EQ(runCommand({"chattr", "+i", (root / "A_LOCKED/locked.bin").string()}).exitCode, 0);

    auto summary = checkAndPrepare(root, *CameraFormatProfile::profile("nikon"), {});
    runCommand({"chattr", "-i", (root / "A_LOCKED/locked.bin").string()});
    EXPECT_EQ(summary.failures, std::vector<std::string>{"A_LOCKED"});
    EXPECT_EQ(summary.itemsDeleted, 1);
    EXPECT_EQ(summary.bytesFreed, 3);  // a partly removed folder counts nothing
    EXPECT_FALSE(fs::exists(root / "B.bin"));
    EXPECT_TRUE(fs::exists(root / "A_LOCKED/locked.bin"));
    EXPECT_EQ(summary.foldersCreated, std::vector<std::string>{"DCIM/100NIKON"});
    EXPECT_EQ(summary.foldersMade, std::vector<std::string>{"DCIM/100NIKON"});

    // A profile folder the erase could not remove exists afterwards but was not made by it.
    writeFile(root / "DCIM/100CANON/locked.jpg", "0123");
    ASSERT_EQ(runCommand({"chattr", "+i", (root / "DCIM/100CANON/locked.jpg").string()}).exitCode, 0);
    summary = checkAndPrepare(root, *CameraFormatProfile::profile("canon-eos"), {});
    runCommand({"chattr", "-i", (root / "DCIM/100CANON/locked.jpg").string()});
    EXPECT_EQ(summary.foldersCreated, (std::vector<std::string>{"DCIM/100CANON", "MISC"}));
    EXPECT_EQ(summary.foldersMade, std::vector<std::string>{"MISC"});
}

TEST_F(CardPrepEngineTest, AStopBeforeTheFirstRemovalLeavesTheCardAsItWas) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "CARD");
    const fs::path root = card.mountPoint();
    writeFile(root / "one.jpg", "1");
    writeFile(root / "two.jpg", "22");
    for (int i = 0; i < 200; ++i) writeFile(root / "DCIM/100CANON" / ("IMG_" + std::to_string(i) + ".JPG"), "x");
    const auto before = topLevel(root);
    const auto gopro = *CameraFormatProfile::profile("gopro");
    auto expectAsItWas = [&](const CardPrepEngine::Summary& summary) {
        EXPECT_TRUE(summary.cancelled);
        EXPECT_TRUE(summary.untouched);
        EXPECT_EQ(summary.itemsDeleted, 0);
        EXPECT_EQ(summary.filesDeleted, 0);
        EXPECT_TRUE(summary.foldersCreated.empty());
        EXPECT_EQ(topLevel(root), before) << "no camera folder made either";
        EXPECT_TRUE(fs::exists(root / "DCIM/100CANON/IMG_199.JPG"));
    };

    // Inside the plan's measuring of the card: heard there, before the plan is sent.
    Recorded recorded;
    int asked = 0;
    expectAsItWas(checkAndPrepare(root, gopro, [&] { return ++asked > 20; }, recorded.sink()));
    EXPECT_EQ(asked, 21);
    EXPECT_TRUE(recorded.events.empty());

    // Between the plan and the first removal.
    bool stop = false;
    recorded.events.clear();
    auto stopAtPlan = [&](const CardPrepEngine::Event& event) {
        recorded.events.push_back(event);
        if (std::holds_alternative<CardPrepEngine::Planned>(event)) stop = true;
    };
    expectAsItWas(checkAndPrepare(root, gopro, [&] { return stop; }, stopAtPlan));
    ASSERT_EQ(recorded.events.size(), 1u);
    EXPECT_EQ(std::get<CardPrepEngine::Planned>(recorded.events[0]), (CardPrepEngine::Planned{3, 203, 202}));

    // Stopped as the second item begins: what was removed is gone, the rest stays, and the
    // camera's folders are made.
    stop = false;
    auto summary = checkAndPrepare(root, gopro, [&] { return stop; }, [&](const CardPrepEngine::Event& event) {
        if (const auto* deleting = std::get_if<CardPrepEngine::Deleting>(&event)) stop = deleting->index == 1;
    });
    EXPECT_TRUE(summary.cancelled);
    EXPECT_FALSE(summary.untouched);
    EXPECT_EQ(summary.itemsDeleted, 1);
    EXPECT_EQ(int(fs::exists(root / "one.jpg")) + int(fs::exists(root / "two.jpg")) +
                  int(fs::exists(root / "DCIM/100CANON")),
              2);
    EXPECT_EQ(summary.foldersCreated, (std::vector<std::string>{"DCIM/100GOPRO", "MISC"}));
    EXPECT_TRUE(summary.failures.empty()) << "the item the stop left is no failure";
}

TEST_F(CardPrepEngineTest, RefusesEverythingThatIsNotAnExternalVolumeRoot) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "CARD");
    const fs::path root = card.mountPoint();
    writeFile(root / "DCIM/100CANON/IMG_0001.JPG", "photo");
    const auto generic = *CameraFormatProfile::profile("generic");
    // prepare() refuses these paths even when handed the facts of a real card.
    const auto cardFacts = *CardPrepEngine::check(root).card;
    auto refused = [&](const fs::path& p) {
        try {
            CardPrepEngine::prepare(p, cardFacts, generic, {});
        } catch (const CardPrepEngine::PrepError& e) {
            return e.kind() == CardPrepEngine::PrepError::Kind::refusedDangerousRoot;
        }
        return false;
    };

    // A folder inside the card.
    EXPECT_EQ(CardPrepEngine::validate(root / "DCIM"), Issue::notAVolumeRoot);
    EXPECT_TRUE(refused(root / "DCIM"));
    EXPECT_TRUE(fs::exists(root / "DCIM/100CANON/IMG_0001.JPG"));

    // A bind mount of a folder of the card shows part of it: not a volume root.
    ScopedMount bound({"--bind", (root / "DCIM").string()}, sandbox / "bound");
    EXPECT_EQ(CardPrepEngine::validate(sandbox / "bound"), Issue::notAVolumeRoot);
    EXPECT_TRUE(refused(sandbox / "bound"));
    bound.unmount();

    // A mount with no block device behind it.
    ScopedMount memory({"-t", "tmpfs", "tmpfs"}, sandbox / "tmpfs");
    writeFile(sandbox / "tmpfs/file", "kept");
    EXPECT_EQ(CardPrepEngine::validate(sandbox / "tmpfs"), Issue::notAVolumeRoot);
    EXPECT_TRUE(refused(sandbox / "tmpfs"));
    EXPECT_TRUE(fs::exists(sandbox / "tmpfs/file"));

    // The root file system, mounted a second time somewhere that is not on any list.
    ScopedMount rootAgain({"--bind", "/"}, sandbox / "rootfs");
    EXPECT_EQ(CardPrepEngine::validate(sandbox / "rootfs"), Issue::dangerousSystemLocation);
    EXPECT_TRUE(refused(sandbox / "rootfs"));
    rootAgain.unmount();

    // A link to "/" planted where a card would be.
    fs::create_directory_symlink("/", sandbox / "EOS_DIGITAL");
    EXPECT_EQ(CardPrepEngine::validate(sandbox / "EOS_DIGITAL"), Issue::dangerousSystemLocation);
    EXPECT_TRUE(refused(sandbox / "EOS_DIGITAL"));

    // The card itself still passes and still holds its photo.
    EXPECT_EQ(CardPrepEngine::validate(root), std::nullopt);
    EXPECT_TRUE(fs::exists(root / "DCIM/100CANON/IMG_0001.JPG"));
}

TEST_F(CardPrepEngineTest, RefusesAVolumeOnTheSystemDisk) {
    TESSALINE_REQUIRE_ROOT();
    std::unique_ptr<tessaline::testing::SwapDiskVolume> disk;
    try {
        disk = std::make_unique<tessaline::testing::SwapDiskVolume>("DATA");
    } catch (const std::exception& e) {
        GTEST_SKIP() << "cannot make a disk with active swap here: " << e.what();
    }
    writeFile(disk->mountPoint() / "work.txt", "internal data");
    EXPECT_EQ(CardPrepEngine::validate(disk->mountPoint()), Issue::dangerousSystemLocation);
    EXPECT_FALSE(CardPrepEngine::check(disk->mountPoint()).isErasable());
    EXPECT_THROW(CardPrepEngine::prepare(disk->mountPoint(), CardPrepEngine::CardFacts{},
                                         *CameraFormatProfile::profile("generic"), {}),
                 CardPrepEngine::PrepError);
    EXPECT_EQ(readFile(disk->mountPoint() / "work.txt"), "internal data");
}

TEST_F(CardPrepEngineTest, RefusesAFolderThatOnlyShadowsACardMount) {
    TESSALINE_REQUIRE_ROOT();
    // The card stays in the mount table at its place, but a later mount over a parent folder
    // hides it: the path now leads to a folder of that other file system.
    LoopVolume card("ext4", 64, "CARD");
    ScopedMount cardAgain({"--bind", card.mountPoint().string()}, sandbox / "media/CARD");
    ScopedMount over({"-t", "tmpfs", "tmpfs"}, sandbox / "media");
    writeFile(sandbox / "media/CARD/notes.txt", "not on the card");
    EXPECT_NE(CardPrepEngine::validate(sandbox / "media/CARD"), std::nullopt);
    const auto cardFacts = *CardPrepEngine::check(card.mountPoint()).card;
    EXPECT_THROW(CardPrepEngine::prepare(sandbox / "media/CARD", cardFacts, *CameraFormatProfile::profile("generic"), {}),
                 CardPrepEngine::PrepError);
    EXPECT_EQ(readFile(sandbox / "media/CARD/notes.txt"), "not on the card");
}

TEST_F(CardPrepEngineTest, RefusesACardSwappedInAtTheCheckedPlace) {
    TESSALINE_REQUIRE_ROOT();
    // Two cards with the same label; the second even carries the first one's UUID, as a
    // cloned card would. Card A is checked, then taken out, and B is mounted in its place.
    LoopVolume cardA("ext4", 64, "EOS_DIGITAL");
    LoopVolume cardB("ext4", 64, "EOS_DIGITAL", false);
    const fs::path place = cardA.mountPoint();
    writeFile(place / "DCIM/100CANON/A_0001.CR3", "card A");
    const auto checked = CardPrepEngine::check(place);
    ASSERT_TRUE(checked.isErasable());
    ASSERT_FALSE(checked.issue.has_value());
    ASSERT_TRUE(checked.card->fileSystemUuid.has_value());
    ASSERT_EQ(runCommand({"mkfs.ext4", "-q", "-F", "-L", "EOS_DIGITAL", "-U", *checked.card->fileSystemUuid,
                          cardB.device()}).exitCode, 0);
    cardA.unmount();
    ScopedMount cardBInPlace({"-t", "ext4", cardB.device()}, place);
    writeFile(place / "DCIM/100CANON/B_0001.CR3", "card B, never scanned");
    EXPECT_EQ(CardPrepEngine::validate(place), std::nullopt);  // B is a valid card by itself

    Recorded recorded;
    try {
        CardPrepEngine::prepare(place, *checked.card, *CameraFormatProfile::profile("canon-eos"), {},
                                recorded.sink());
        ADD_FAILURE() << "card B was erased";
    } catch (const CardPrepEngine::PrepError& e) {
        EXPECT_EQ(e.kind(), CardPrepEngine::PrepError::Kind::cardChanged);
        EXPECT_EQ(std::string(e.what()), "The card at " + place.string() +
                                             " is no longer the one that was checked \u2014 nothing was erased. "
                                             "Choose it again.");
    }
    EXPECT_TRUE(recorded.events.empty());
    EXPECT_EQ(readFile(place / "DCIM/100CANON/B_0001.CR3"), "card B, never scanned");
    EXPECT_EQ(topLevel(place), (std::set<std::string>{"lost+found", "DCIM"}));
}

TEST_F(CardPrepEngineTest, RefusesTheSameCardMountedAgainUntilCheckedAgain) {
    TESSALINE_REQUIRE_ROOT();
    // The same volume unmounted and mounted again at the same folder is a new mount: the
    // check the user saw no longer vouches for it, on ext4 and on a FUSE exFAT card alike.
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD");
        const fs::path root = card.mountPoint();
        writeFile(root / "DCIM/IMG_0001.JPG", "photo");
        const auto before = CardPrepEngine::check(root);
        ASSERT_TRUE(before.isErasable());
        card.unmount();
        card.remount();
        const auto after = CardPrepEngine::check(root);
        ASSERT_TRUE(after.isErasable());
        EXPECT_EQ(after.card->fileSystemUuid, before.card->fileSystemUuid);
        // Kernels before 6.8 have only the mount table's IDs, which a remount may reuse.
        if (before.card->mountId <= INT32_MAX) GTEST_SKIP() << "the kernel gives no lasting mount IDs";
        EXPECT_NE(after.card->mountId, before.card->mountId);

        EXPECT_THROW(CardPrepEngine::prepare(root, *before.card, *CameraFormatProfile::profile("generic"), {}),
                     CardPrepEngine::PrepError);
        EXPECT_EQ(readFile(root / "DCIM/IMG_0001.JPG"), "photo");
        auto summary = CardPrepEngine::prepare(root, *after.card, *CameraFormatProfile::profile("generic"), {});
        EXPECT_EQ(summary.itemsDeleted, 1);
        EXPECT_FALSE(fs::exists(root / "DCIM/IMG_0001.JPG"));
    }
}

namespace {

// Litter as operating systems write it: each file starts with its format's magic.
void writeLitter(const fs::path& folder) {
    writeFile(folder / "._C0002.MOV", std::string("\x00\x05\x16\x07\x00\x02\x00\x00", 8) + std::string(4088, '\0'));
    writeFile(folder / ".DS_Store", std::string("\x00\x00\x00\x01" "Bud1", 8) + std::string(6136, '\0'));
}

// A card as a scan vouched for it: two folders alike, files at the root, an empty folder,
// litter, and on file systems that have them a link and a FIFO.
void fillVouchedCard(const fs::path& root, bool specialFiles) {
    for (const char* folder : {"A", "B"}) {
        const fs::path f = root / folder;
        writeFile(f / "NOTE.TXT", "first take was soft");
        writePatternFile(f / "CLIP/C0001.MOV", 150000, 1);
        writePatternFile(f / "SUB/C0002.MOV", 90000, 2);
        writeLitter(f);
        if (specialFiles) {
            fs::create_symlink(f / "NOTE.TXT", f / "note-link");
            ASSERT_EQ(mkfifo((f / "pipe").c_str(), 0644), 0);
        }
    }
    writeFile(root / "ROOT.XML", "<clip/>");
    fs::create_directories(root / "EMPTY/DEEPER");
}

bool existsNoFollow(const fs::path& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// At the erase's first item: in the folder of A and B that it has not reached, a new file
// is written, NOTE.TXT grows and CLIP/C0001.MOV is rewritten at its size; a new top-level
// folder with a file and an empty one appear. Returns the folder changed.
std::function<void(const CardPrepEngine::Event&)> changeWhileErasing(const fs::path& root, std::string& changed) {
    return [&root, &changed](const CardPrepEngine::Event& event) {
        const auto* deleting = std::get_if<CardPrepEngine::Deleting>(&event);
        if (!deleting || deleting->index != 0) return;
        changed = deleting->name == "B" ? "A" : "B";
        const fs::path f = root / changed;
        // File times on FUSE exFAT are whole seconds: the rewrite must fall in a later one.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        writePatternFile(f / "LATE.MOV", 1 << 20, 7);
        writeFile(f / "NOTE.TXT", "first take was soft; second take is the one to keep");
        writePatternFile(f / "CLIP/C0001.MOV", 150000, 9);
        writePatternFile(root / "NEWTOP/LATE2.MOV", 4096, 8);
        fs::create_directories(root / "NEWEMPTY");
    };
}

}  // namespace

TEST_F(CardPrepEngineTest, AVouchedEraseKeepsWhatChangedDuringItAndAnOverrideDoesNot) {
    TESSALINE_REQUIRE_ROOT();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD");
        const fs::path root = card.mountPoint();
        const bool ext4 = fsType == "ext4";
        fillVouchedCard(root, ext4);
        const auto vouched = tessaline::testing::provenRecords(root);
        ASSERT_EQ(vouched.size(), 7u) << "litter, links and FIFOs are not vouched for";

        std::string changed;
        auto checked = CardPrepEngine::check(root);
        ASSERT_TRUE(checked.card);
        auto summary = CardPrepEngine::prepare(root, *checked.card, *CameraFormatProfile::profile("red"), {},
                                               changeWhileErasing(root, changed), vouched);
        ASSERT_FALSE(changed.empty());
        const std::string other = changed == "A" ? "B" : "A";

        std::set<std::string> kept(summary.kept.begin(), summary.kept.end());
        EXPECT_EQ(kept, (std::set<std::string>{changed + "/LATE.MOV", changed + "/NOTE.TXT",
                                               changed + "/CLIP/C0001.MOV", "NEWTOP/LATE2.MOV"}));
        EXPECT_EQ(summary.kept.size(), kept.size()) << "each named once";
        EXPECT_FALSE(summary.isClean());
        EXPECT_TRUE(summary.failures.empty());
        EXPECT_EQ(fs::file_size(root / changed / "LATE.MOV"), 1u << 20);
        EXPECT_EQ(readFile(root / changed / "NOTE.TXT"), "first take was soft; second take is the one to keep");
        EXPECT_TRUE(fs::exists(root / "NEWTOP/LATE2.MOV"));

        // Every vouched file that did not change is gone, with litter, links, FIFOs and every
        // folder emptied; the folders holding a kept file stay.
        int64_t freed = 0;
        for (const auto& record : vouched) {
            if (kept.count(record.relative)) continue;
            EXPECT_FALSE(existsNoFollow(root / record.relative)) << record.relative;
            freed += record.byteSize;
        }
        freed += 2 * (4096 + 6144);  // the litter
        EXPECT_EQ(summary.bytesFreed, freed);
        for (const char* gone : {"SUB", "._C0002.MOV", ".DS_Store", "note-link", "pipe"})
            EXPECT_FALSE(existsNoFollow(root / changed / gone)) << gone;
        std::set<std::string> expected{changed, "NEWTOP"};
        if (ext4) expected.insert("lost+found");
        EXPECT_EQ(topLevel(root), expected);
        EXPECT_EQ(topLevel(root / changed), (std::set<std::string>{"CLIP", "LATE.MOV", "NOTE.TXT"}));
        EXPECT_EQ(summary.itemsDeleted, 4) << other << ", ROOT.XML, EMPTY and NEWEMPTY";

        // The same erase on the override path deletes everything, changed or not.
        for (const auto& name : topLevel(root))
            if (name != "lost+found") fs::remove_all(root / name);
        fillVouchedCard(root, ext4);
        summary = CardPrepEngine::prepare(root, *checked.card, *CameraFormatProfile::profile("red"), {},
                                          changeWhileErasing(root, changed));
        EXPECT_TRUE(summary.kept.empty());
        EXPECT_TRUE(summary.failures.empty());
        EXPECT_TRUE(summary.isClean());
        std::set<std::string> left{"NEWTOP", "NEWEMPTY"};
        if (ext4) left.insert("lost+found");
        EXPECT_EQ(topLevel(root), left) << "items made after the listing are not the override's";
        EXPECT_FALSE(fs::exists(root / changed));
    }
}
