// The erase's removal inside one top-level item: a stop ends it before the next file, a file
// put back under a deleted name is kept and named, and look-alike files swapped in by folder
// renames are told from the vouched ones by their inode numbers.

#include "Tessaline/CardPrep/CardPrepEngine.hpp"

#include "Tessaline/CardPrep/CardFileSet.hpp"

#include "Support/LookAlikeFiles.hpp"
#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <future>
#include <set>
#include <thread>

using tessaline::CameraFormatProfile;
using tessaline::CardFileRecord;
using tessaline::CardFileSet;
using tessaline::CardPrepEngine;
using tessaline::testing::LoopVolume;
using tessaline::testing::makeLookAlikes;
using tessaline::testing::provenRecords;
using tessaline::testing::swapInLookAlikes;
using tessaline::testing::readFile;
using tessaline::testing::writeFile;
using tessaline::testing::writePatternFile;
namespace fs = std::filesystem;

namespace {

using Vouched = std::optional<std::vector<CardFileRecord>>;

int filesIn(const fs::path& folder) {
    int count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) count += entry.is_regular_file() ? 1 : 0;
    return count;
}

CardPrepEngine::Summary erase(const fs::path& root, const Vouched& vouched, const std::function<bool()>& isStopped = {},
                              const std::function<void(const CardPrepEngine::Event&)>& onEvent = {}) {
    const auto checked = CardPrepEngine::check(root);
    if (!checked.card) throw std::runtime_error("check refused " + root.string());
    return CardPrepEngine::prepare(root, *checked.card, *CameraFormatProfile::profile("red"), isStopped, onEvent,
                                   vouched);
}

}  // namespace

class CardTreeRemovalTest : public tessaline::testing::SandboxedTest {};

TEST_F(CardTreeRemovalTest, StopEndsAnEraseInsideOneFolderWithinAMomentOnBothPaths) {
    TESSALINE_REQUIRE_ROOT();
    constexpr int total = 20'000;
    LoopVolume card("ext4", 128, "CARD");  // 32768 inodes
    const fs::path root = card.mountPoint();
    const fs::path folder = root / "DCIM/100CANON";
    for (const bool vouchedPath : {false, true}) {
        SCOPED_TRACE(vouchedPath ? "vouched" : "override");
        for (int i = 0; i < total; ++i) writeFile(folder / ("IMG_" + std::to_string(i) + ".JPG"), "x");
        const Vouched vouched = vouchedPath ? Vouched(provenRecords(root)) : std::nullopt;

        // Once the erase is well into the folder, Stop (its questions counted from the plan on:
        // the plan's measuring asks them too).
        std::atomic<int> asked{0};
        std::atomic<bool> stop{false}, planned{false};
        auto running = std::async(std::launch::async, [&] {
            return erase(
                root, vouched,
                [&] {
                    if (planned) ++asked;
                    return stop.load();
                },
                [&](const CardPrepEngine::Event& event) {
                    if (std::holds_alternative<CardPrepEngine::Planned>(event)) planned = true;
                });
        });
        while (asked < 2000 && running.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
        }
        const auto stoppedAt = std::chrono::steady_clock::now();
        stop = true;
        const CardPrepEngine::Summary summary = running.get();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - stoppedAt).count();

        EXPECT_LT(seconds, 1.0);
        EXPECT_TRUE(summary.cancelled);
        const int left = filesIn(root / "DCIM");
        EXPECT_GT(left, 0) << "the stop ended the erase inside the folder";
        EXPECT_GE(summary.filesDeleted, 1990) << "the stop came after 2000 of its questions";
        EXPECT_EQ(summary.filesDeleted + left, total) << "every file is either counted as deleted or still there";
        EXPECT_EQ(summary.bytesFreed, summary.filesDeleted);
        EXPECT_EQ(summary.itemsDeleted, 0);
        EXPECT_TRUE(summary.failures.empty()) << "an item the stop left is no failure";
        EXPECT_TRUE(summary.kept.empty());
        fs::remove_all(root / "DCIM");
    }
}

TEST_F(CardTreeRemovalTest, AFilePutBackUnderADeletedNameIsKeptAndNamed) {
    TESSALINE_REQUIRE_ROOT();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD");
        const fs::path root = card.mountPoint();
        std::vector<std::string> names;
        for (int i = 0; i < 40; ++i) {
            names.push_back("C" + std::to_string(1000 + i) + ".MOV");
            writePatternFile(root / "CLIPS" / names.back(), 4096, static_cast<unsigned>(i));
        }
        writeFile(root / "ROOT.XML", "<clip/>");
        const Vouched vouched = provenRecords(root);

        // As soon as one clip is gone, a file of its name and size is written again.
        std::string putBack;
        auto summary = erase(root, vouched, [&] {
            for (const auto& name : names)
                if (putBack.empty() && !fs::exists(root / "CLIPS" / name)) {
                    putBack = name;
                    writePatternFile(root / "CLIPS" / name, 4096, 99);
                }
            return false;
        });
        ASSERT_FALSE(putBack.empty());
        EXPECT_EQ(summary.kept, std::vector<std::string>{"CLIPS/" + putBack});
        EXPECT_EQ(fs::file_size(root / "CLIPS" / putBack), 4096u);
        EXPECT_EQ(filesIn(root / "CLIPS"), 1);
        EXPECT_TRUE(summary.failures.empty()) << "a folder left for a kept file is no failure";
        EXPECT_FALSE(summary.cancelled);
        EXPECT_EQ(summary.itemsDeleted, 1) << "ROOT.XML";
        EXPECT_EQ(summary.filesDeleted, 41);
    }
}

TEST_F(CardTreeRemovalTest, LookAlikesSwappedInByFolderRenamesAreToldByTheirInodes) {
    TESSALINE_REQUIRE_ROOT();
    for (const std::string fsType : {"ext4", "exfat"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD");
        const fs::path root = card.mountPoint();
        const std::set<std::string> clips{"DCIM/100CANON/MVI_0001.MP4", "DCIM/100CANON/MVI_0002.MP4",
                                          "DCIM/101CANON/IMG_0003.CR3"};
        unsigned seed = 1;
        for (const auto& clip : clips) writePatternFile(root / clip, 70000, seed++);
        makeLookAlikes(root / "DCIM", root / ".Trashes/LOOK");

        // Between two walks of one mount: every look-alike differs from its record.
        const CardFileSet before = CardFileSet::read(root);
        ASSERT_TRUE(before.mount);
        swapInLookAlikes(root);
        const CardFileSet after = CardFileSet::read(root);
        EXPECT_TRUE(CardFileSet::sameMount(before.mount, after.mount));
        const auto changed = CardFileSet::differences(before.files, after.files, true);
        EXPECT_EQ(std::set<std::string>(changed.begin(), changed.end()), clips);
        if (fsType == "exfat") {
            EXPECT_TRUE(CardFileSet::differences(before.files, after.files, false).empty())
                << "size and stamps alike: only the inode number tells";
        }

        // Mounted again, the numbers are not comparable (FUSE exFAT numbers files afresh).
        card.unmount();
        card.remount();
        const auto remounted = CardFileSet::mountOf(root);
        ASSERT_TRUE(remounted);
        if (before.mount->mountId > INT32_MAX) {  // the kernel's lasting IDs
            EXPECT_FALSE(CardFileSet::sameMount(before.mount, remounted));
        }

        // Swapped in during an erase, after its last walk: kept and named, not deleted.
        fs::remove_all(root / "DCIM");
        fs::rename(root / ".Trashes/OLD", root / "DCIM");
        makeLookAlikes(root / "DCIM", root / ".Trashes/LOOK");
        const Vouched vouched = provenRecords(root);
        auto summary = erase(root, vouched, {}, [&](const CardPrepEngine::Event& event) {
            const auto* deleting = std::get_if<CardPrepEngine::Deleting>(&event);
            if (deleting && deleting->name == "DCIM") swapInLookAlikes(root);
        });
        EXPECT_EQ(std::set<std::string>(summary.kept.begin(), summary.kept.end()), clips);
        EXPECT_TRUE(summary.failures.empty());
        for (const auto& clip : clips) {
            const std::string kept = readFile(root / clip);
            const std::string original = readFile(root / ".Trashes/OLD" / fs::path(clip).lexically_relative("DCIM"));
            EXPECT_EQ(kept.substr(1), original.substr(1));
            EXPECT_NE(kept[0], original[0]) << "the look-alike stays in the original's place";
        }
    }
}

TEST_F(CardTreeRemovalTest, FilesRenumberedDuringAnEraseGoByTheirBytesAndARewriteIsKept) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("exfat", 64, "CARD");
    const fs::path root = card.mountPoint();
    const std::vector<std::string> clips{"DCIM/100CANON/MVI_0001.MP4", "DCIM/100CANON/MVI_0002.MP4",
                                         "DCIM/101CANON/IMG_0003.CR3"};
    unsigned seed = 1;
    for (const auto& clip : clips) writePatternFile(root / clip, 70000, seed++);
    const Vouched vouched = provenRecords(root);

    // One file gets other bytes at its size and stamps; the kernel forgets every file as the
    // erase begins.
    const std::string bytes = tessaline::testing::rewriteKeepingStamps(root / clips[1]);
    auto summary = erase(root, vouched, {}, [&](const CardPrepEngine::Event& event) {
        if (std::holds_alternative<CardPrepEngine::Deleting>(event)) LoopVolume::dropCaches();
    });
    EXPECT_EQ(summary.kept, std::vector<std::string>{clips[1]});
    EXPECT_EQ(summary.filesDeleted, 2);
    EXPECT_TRUE(summary.failures.empty());
    EXPECT_EQ(filesIn(root / "DCIM"), 1);
    EXPECT_EQ(readFile(root / clips[1]), bytes);
}
