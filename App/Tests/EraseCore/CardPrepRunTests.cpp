// Real erases of loop-mounted cards through the view model: every camera profile's folders,
// Stop, a safe erase from a real scan and what it keeps of files changed while it runs, what
// lies beyond the card surviving, and the phases and texts of the run.

#include "Support/EraseFixtures.hpp"

#include "Support/CardScanReport.hpp"
#include "Tessaline/CardPrep/CardFileSet.hpp"

#include <gtest/gtest.h>

#include "BrindlecoveApp/Platform/RemovableMounts.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <thread>

namespace brindlecove::testing {
namespace {

namespace fs = std::filesystem;
using tessaline::CameraFormatProfile;
using tessaline::testing::readFile;
using tessaline::testing::writeFile;

class CardPrepRunTest : public AppSandboxedTest {
protected:
    // Erases `vm`'s card on the acknowledgement path and waits for the outcome.
    void eraseAcknowledged(CardPrepViewModel& vm) {
        vm.setConfirmationText(vm.cardName());
        vm.gate(nullptr);
        vm.setAcknowledgedUnverified(true);
        ASSERT_TRUE(vm.runChecked(nullptr));
        ASSERT_TRUE(waitForEraseEnd(vm));
    }
    LoopVolumeSet loops;
};

TEST_F(CardPrepRunTest, ErasesARealCardForEveryCameraProfile) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("ext4", "CARD");
    const fs::path root = card.mountPoint();
    auto vm = realCardPrep();
    for (const auto& profile : CameraFormatProfile::all()) {
        SCOPED_TRACE(profile.id);
        writeFile(root / "DCIM/100OLD/IMG_0001.JPG", "old still");
        writeFile(root / "notes.txt", "old notes");
        pickAndCount(*vm, root);
        vm->setSelectedProfileID(QString::fromStdString(profile.id));
        eraseAcknowledged(*vm);
        const auto* done = std::get_if<CardPrepViewModel::Done>(&vm->phase());
        ASSERT_NE(done, nullptr);
        EXPECT_EQ(done->summary.foldersCreated, profile.folders);
        EXPECT_EQ(done->summary.foldersMade, profile.folders) << "the old folders went; each was made anew";
        EXPECT_TRUE(done->summary.failures.empty());
        EXPECT_FALSE(fs::exists(root / "notes.txt"));
        EXPECT_FALSE(fs::exists(root / "DCIM/100OLD"));
        for (const auto& folder : profile.folders) EXPECT_TRUE(fs::is_directory(root / folder)) << folder;
        EXPECT_TRUE(fs::exists(root / "lost+found")) << "the file system's own item stays";
        EXPECT_EQ(vm->preview(), (CardPrepViewModel::Preview{0, 0, 0}));
        EXPECT_EQ(vm->confirmationText(), "");
        EXPECT_EQ(vm->selectedProfile(), profile);
    }
}

TEST_F(CardPrepRunTest, ASafeCardFromARealScanIsErasedOnExfatWithProgress) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("exfat", "A001");
    const fs::path root = card.mountPoint();
    const fs::path drive = sandbox / "drive";
    shootStills(root, drive, 3);
    writeFile(root / "MISC/clip.xml", "sidecar");
    writeFile(drive / "MISC/clip.xml", "sidecar");  // erased too, so it must be on the drive
    auto vm = realCardPrep();
    pickAndCount(*vm, root);
    const ReportPtr report = scanCard(root, {drive});
    ASSERT_EQ(verdictOf(*vm, report), (VerificationStanding{VerificationStanding::Kind::safe, 3}));
    vm->setSelectedProfileID("generic");

    std::vector<CardPrepViewModel::Phase> phases;
    QObject::connect(vm.get(), &CardPrepViewModel::changed, [&] { phases.push_back(vm->phase()); });
    vm->setConfirmationText("MN");
    EXPECT_FALSE(vm->runChecked(report)) << "the typed name must match";
    vm->setConfirmationText(" mnt");
    EXPECT_FALSE(vm->runChecked(report)) << "a blank spoils the name";
    vm->setConfirmationText("mnt");
    ASSERT_TRUE(vm->runChecked(report));
    EXPECT_EQ(vm->runningNoun(), QString("card erase"));
    EXPECT_EQ(vm->phase(), CardPrepViewModel::Phase(CardPrepViewModel::Running{"", 0, 2}));
    EXPECT_FALSE(vm->runChecked(report)) << "busy";
    ASSERT_TRUE(waitForEraseEnd(*vm));
    const auto* done = std::get_if<CardPrepViewModel::Done>(&vm->phase());
    const auto* failed = std::get_if<CardPrepViewModel::Failed>(&vm->phase());
    ASSERT_NE(done, nullptr) << (failed ? failed->message.toStdString() : std::string());
    EXPECT_EQ(done->summary.itemsDeleted, 2);
    EXPECT_EQ(done->summary.foldersCreated, std::vector<std::string>{"DCIM"});
    EXPECT_EQ(topLevel(root), std::vector<std::string>{"DCIM"});
    EXPECT_TRUE(fs::is_empty(root / "DCIM"));
    // The deleting events arrive in order, before the outcome, and the progress counts the
    // files deleted (two stills and the folder's other files), not the two top-level items.
    std::vector<QString> items;
    int lastDeleted = -1, planned = 0;
    for (const auto& phase : phases)
        if (const auto* running = std::get_if<CardPrepViewModel::Running>(&phase)) {
            if (!running->item.isEmpty() && (items.empty() || items.back() != running->item))
                items.push_back(running->item);
            EXPECT_GE(running->filesDeleted, lastDeleted) << "the count only grows";
            lastDeleted = running->filesDeleted;
            planned = running->filesPlanned;
        }
    std::sort(items.begin(), items.end());
    EXPECT_EQ(items, (std::vector<QString>{"DCIM", "MISC"}));
    EXPECT_EQ(planned, done->summary.filesDeleted);
    EXPECT_GE(planned, 2);
    EXPECT_EQ(lastDeleted, planned) << "the last file deleted was told before the outcome";
    EXPECT_FALSE(vm->runningNoun().has_value());
}

TEST_F(CardPrepRunTest, ASafeEraseKeepsWhatIsWrittenWhileItRunsAndNamesIt) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        auto& card = loops.add(fsType, "CARD");
        const fs::path root = card.mountPoint();
        const fs::path drive = sandbox / ("drive-" + fsType);
        shootStills(root, drive, 2);
        for (const char* folder : {"DCIM", "PRIVATE"})
            for (const char* name : {"NOTE.TXT", "TAKE.TXT"}) {
                const std::string text = std::string(folder) + " " + name + " as shot";
                writeFile(root / folder / name, text);
                writeFile(drive / folder / name, text);
            }
        // At the erase's first item, in the one of DCIM and PRIVATE it has not reached: a new
        // clip, NOTE.TXT grown, TAKE.TXT rewritten at its size.
        CardPrepBackend backend = CardPrepBackend::standard();
        std::string changed;
        bool vouchedGiven = false;
        backend.prepare = [&, real = backend.prepare](const fs::path& cardRoot, const auto& facts, const auto& profile,
                                                      const auto& isCancelled, const auto& onEvent,
                                                      const auto& vouched) {
            vouchedGiven = vouched.has_value();
            auto changeFirst = [&, onEvent](const tessaline::CardPrepEngine::Event& event) {
                const auto* deleting = std::get_if<tessaline::CardPrepEngine::Deleting>(&event);
                if (deleting && deleting->index == 0) {
                    changed = deleting->name == "DCIM" ? "PRIVATE" : "DCIM";
                    const fs::path f = cardRoot / changed;
                    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // whole seconds on exFAT
                    tessaline::testing::writePatternFile(f / "LATE.MOV", 1 << 20, 3);
                    writeFile(f / "NOTE.TXT", changed + " NOTE.TXT as shot, and a line more");
                    writeFile(f / "TAKE.TXT", changed + " TAKE.TXT AS SHOT");
                }
                onEvent(event);
            };
            return real(cardRoot, facts, profile, isCancelled, changeFirst, vouched);
        };
        auto vm = realCardPrep(backend);
        pickAndCount(*vm, root);
        const ReportPtr report = scanCard(root, {drive});
        ASSERT_TRUE(verdictOf(*vm, report).isSafe());
        const auto vouched = tessaline::CardFileSet::read(root).files;
        vm->setSelectedProfileID("generic");
        vm->setConfirmationText("mnt");
        ASSERT_TRUE(vm->runChecked(report));
        ASSERT_TRUE(waitForEraseEnd(*vm));
        const auto* done = std::get_if<CardPrepViewModel::Done>(&vm->phase());
        ASSERT_NE(done, nullptr);
        EXPECT_TRUE(vouchedGiven) << "a safe erase hands the engine what it vouched for";
        ASSERT_FALSE(changed.empty());

        const std::set<std::string> kept(done->summary.kept.begin(), done->summary.kept.end());
        EXPECT_EQ(kept, (std::set<std::string>{changed + "/LATE.MOV", changed + "/NOTE.TXT", changed + "/TAKE.TXT"}));
        EXPECT_FALSE(done->summary.isClean());
        EXPECT_EQ(fs::file_size(root / changed / "LATE.MOV"), 1u << 20);
        EXPECT_EQ(readFile(root / changed / "NOTE.TXT"), changed + " NOTE.TXT as shot, and a line more");
        EXPECT_EQ(readFile(root / changed / "TAKE.TXT"), changed + " TAKE.TXT AS SHOT");
        for (const auto& record : vouched)
            if (!kept.count(record.relative)) EXPECT_FALSE(fs::exists(root / record.relative)) << record.relative;
        // What the erase left is counted again.
        EXPECT_TRUE(waitFor([&] { return vm->preview() && vm->preview()->fileCount == 3; }));
    }
}

TEST_F(CardPrepRunTest, StopEndsInDoneWithTheProfileFoldersAndTheRestKept) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("ext4", "CARD");
    const fs::path root = card.mountPoint();
    for (int i = 0; i < 6; ++i) writeFile(root / ("item" + std::to_string(i) + ".txt"), "x");
    // The erase waits at its third item for the Stop.
    CardPrepBackend backend = CardPrepBackend::standard();
    std::atomic<bool> waiting{false};
    backend.prepare = [&, real = backend.prepare](const fs::path& cardRoot, const auto& facts, const auto& profile,
                                                  const std::function<bool()>& isCancelled, const auto& onEvent,
                                                  const auto& vouched) {
        return real(cardRoot, facts, profile, isCancelled, [&](const tessaline::CardPrepEngine::Event& event) {
            onEvent(event);
            const auto* deleting = std::get_if<tessaline::CardPrepEngine::Deleting>(&event);
            if (!deleting || deleting->index != 2) return;
            waiting = true;
            for (int i = 0; i < 1000 && !isCancelled(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }, vouched);
    };
    auto vm = realCardPrep(backend);
    pickAndCount(*vm, root);
    vm->setSelectedProfileID("nikon");
    vm->setConfirmationText("mnt");
    vm->gate(nullptr);
    vm->setAcknowledgedUnverified(true);
    ASSERT_TRUE(vm->runChecked(nullptr));
    ASSERT_TRUE(waitFor([&] { return waiting.load(); }));
    vm->stop();
    EXPECT_TRUE(vm->isStopping());
    ASSERT_TRUE(waitForEraseEnd(*vm));
    EXPECT_FALSE(vm->isStopping());
    const auto* done = std::get_if<CardPrepViewModel::Done>(&vm->phase());
    ASSERT_NE(done, nullptr) << "a stopped erase is done, not failed";
    EXPECT_TRUE(done->summary.cancelled);
    EXPECT_EQ(done->summary.itemsDeleted, 2);
    EXPECT_EQ(done->summary.filesDeleted, 2);
    EXPECT_EQ(done->summary.foldersCreated, std::vector<std::string>{"DCIM/100NIKON"});
    EXPECT_TRUE(fs::is_directory(root / "DCIM/100NIKON"));
    EXPECT_EQ(topLevel(root).size(), 2u + 4u) << "lost+found, DCIM and the four items not reached";
    // What is left is counted again.
    EXPECT_TRUE(waitFor([&] { return vm->preview() && vm->preview()->fileCount == 4; }));
}

TEST_F(CardPrepRunTest, FilesBeyondTheCardSurvive) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    auto& card = loops.add("ext4", "CARD");
    auto& inner = loops.add("ext4", "INNER", 64, false);
    const fs::path root = card.mountPoint();
    writeFile(sandbox / "outside/keep.txt", "outside the card");
    fs::create_symlink(sandbox / "outside", root / "link-to-outside");
    fs::create_symlink(sandbox / "outside/keep.txt", root / "link-to-file");
    loops.mountAt(inner, "ext4", root / "inner");
    writeFile(root / "inner/inner.txt", "on another volume");
    writeFile(root / "DCIM/IMG_0001.JPG", "card file");

    auto vm = realCardPrep();
    pickAndCount(*vm, root);
    eraseAcknowledged(*vm);
    const auto* done = std::get_if<CardPrepViewModel::Done>(&vm->phase());
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(readFile(sandbox / "outside/keep.txt"), "outside the card");
    EXPECT_EQ(readFile(root / "inner/inner.txt"), "on another volume");
    EXPECT_FALSE(fs::is_symlink(root / "link-to-outside"));
    EXPECT_FALSE(fs::is_symlink(root / "link-to-file"));
    EXPECT_FALSE(fs::exists(root / "DCIM/IMG_0001.JPG"));
}

TEST_F(CardPrepRunTest, PickingAFolderThatIsNotACardCountsNothingAndNeverErases) {
    writeFile(sandbox / "folder/file.txt", "x");
    auto vm = realCardPrep();
    vm->takeCard(qstr(sandbox / "folder"));
    EXPECT_TRUE(vm->cardIssue().has_value());
    EXPECT_EQ(vm->phase(), CardPrepViewModel::Phase(CardPrepViewModel::Idle{}));
    EXPECT_FALSE(vm->preview().has_value());
    vm->setConfirmationText("folder");
    vm->gate(nullptr);
    vm->setAcknowledgedUnverified(true);
    EXPECT_FALSE(vm->canRun(vm->gate(nullptr)));
    EXPECT_FALSE(vm->runChecked(nullptr));
    EXPECT_TRUE(fs::exists(sandbox / "folder/file.txt"));
}

TEST_F(CardPrepRunTest, TheCardPanelOpensWhereCardsMountAndACancelChangesNothing) {
    std::vector<FolderRequest> asked;
    std::optional<QString> answer;
    CardPrepViewModel::Dependencies dependencies;
    dependencies.dialogs.chooseFolder = [&](const FolderRequest& request) {
        asked.push_back(request);
        return answer;
    };
    CardPrepViewModel vm(dependencies);
    vm.pickCard();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].prompt, "Select Card");
    EXPECT_EQ(asked[0].message, "Pick the card to ERASE and prep. Everything on it will be deleted.");
    EXPECT_FALSE(asked[0].canCreateFolders);
    EXPECT_EQ(asked[0].startFolder, RemovableMounts::parentFolder());
    EXPECT_FALSE(vm.cardPath().has_value());
    answer = qstr(sandbox.path()) + "/";
    vm.pickCard();
    EXPECT_EQ(vm.cardName(), qstr(sandbox.path().filename())) << "a trailing slash keeps the name";
}

}  // namespace
}  // namespace brindlecove::testing
