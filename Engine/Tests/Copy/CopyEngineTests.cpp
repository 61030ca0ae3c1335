// The verified copy on real files: layouts, name clashes, re-runs, events and refusals.

#include "Copy/TemporaryFiles.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Checksum/ChecksumEngine.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Scanner/FolderScanner.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <set>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using namespace tessaline::testing;
using Kind = CopyEngine::FileStatus::Kind;

CopyEngine::Options options(bool preserve = true, bool verify = true, bool skip = true, int64_t chunk = 64 * 1024) {
    return {preserve, verify, skip, chunk};
}

std::vector<MediaFile> listOf(const fs::path& root, std::vector<std::string> names) {
    std::vector<MediaFile> files;
    for (const auto& name : names) files.push_back({root / name, MediaFile::Kind::media, (int64_t)fs::file_size(root / name)});
    return files;
}

bool sameBytes(const fs::path& a, const fs::path& b) { return runCommand({"cmp", "-s", a, b}).exitCode == 0; }

std::set<std::string> treeOf(const fs::path& root) {
    std::set<std::string> names;
    for (auto& entry : fs::recursive_directory_iterator(root))
        names.insert(fs::relative(entry.path(), root).native() + (entry.is_directory() ? "/" : ""));
    return names;
}

class CopyEngineTest : public SandboxedTest {
protected:
    fs::path card() const { return sandbox / "CARD"; }
    fs::path drive() const { return sandbox / "DRIVE" / "Backup"; }

    // A card with nested folders, media of several kinds and sidecars.
    void makeCard() {
        writePatternFile(card() / "DCIM/100CANON/IMG_0001.CR3", 300'000, 1);
        writePatternFile(card() / "DCIM/100CANON/IMG_0001.JPG", 120'000, 2);
        writePatternFile(card() / "DCIM/100CANON/IMG_0002.CR3", 310'001, 3);
        writePatternFile(card() / "PRIVATE/M4ROOT/CLIP/C0001.MP4", 1'000'003, 4);
        writePatternFile(card() / "PRIVATE/M4ROOT/CLIP/C0001M01.XML", 2'000, 5);
        writePatternFile(card() / "AUDIO/ZOOM0001.WAV", 70'000, 6);
        writeFile(card() / "DCIM/100CANON/empty.THM", "");
        writeFile(card() / ".Spotlight-V100/store.db", "hidden");
    }

    std::vector<CopyEngine::Event> events;
    CopyEngine::EventHandler record() {
        return [this](const CopyEngine::Event& event) { events.push_back(event); };
    }
    template <typename T>
    std::vector<T> eventsOf() const {
        std::vector<T> list;
        for (const auto& e : events)
            if (auto* p = std::get_if<T>(&e)) list.push_back(*p);
        return list;
    }
};

TEST_F(CopyEngineTest, CardCopyMirrorsEveryFileProvenWithEventsInOrder) {
    makeCard();
    CopyEngine::CopyRun run = CopyEngine().copy(card(), drive(), options(), SettleOptions::none(),
                                                [] { return false; }, record());

    ASSERT_EQ(run.plannedFileCount, 7);
    EXPECT_TRUE(run.isComplete());
    EXPECT_FALSE(run.wasCancelled);
    EXPECT_EQ(run.plannedBytes, 300'000 + 120'000 + 310'001 + 1'000'003 + 2'000 + 70'000);
    ChecksumEngine checksum;
    for (const auto& outcome : run.outcomes) {
        SCOPED_TRACE(outcome.relativePath);
        EXPECT_EQ(outcome.status.kind, Kind::copiedVerified);
        EXPECT_EQ(outcome.destinationURL, drive() / outcome.relativePath);
        EXPECT_TRUE(sameBytes(outcome.sourceURL, outcome.destinationURL));
        EXPECT_EQ(outcome.sourceChecksum, checksum.hash(outcome.sourceURL));
        EXPECT_EQ(outcome.destinationChecksum, outcome.sourceChecksum);
        EXPECT_LE(outcome.startedAt, outcome.finishedAt);
        // The copy carries the source's modification date, to the nanosecond on ext4/tmpfs.
        struct stat s{}, d{};
        ::stat(outcome.sourceURL.c_str(), &s);
        ::stat(outcome.destinationURL.c_str(), &d);
        EXPECT_EQ(s.st_mtim.tv_sec, d.st_mtim.tv_sec);
        EXPECT_EQ(s.st_mtim.tv_nsec, d.st_mtim.tv_nsec);
    }
    EXPECT_FALSE(fs::exists(drive() / ".Spotlight-V100"));
    // Sorted by path: AUDIO first, PRIVATE last.
    EXPECT_EQ(run.outcomes.front().relativePath, "AUDIO/ZOOM0001.WAV");
    EXPECT_EQ(run.outcomes.back().relativePath, "PRIVATE/M4ROOT/CLIP/C0001M01.XML");

    // No settle events with SettleOptions::none; planned first; started/finished paired.
    ASSERT_TRUE(std::holds_alternative<CopyEngine::PlannedEvent>(events.front()));
    auto started = eventsOf<CopyEngine::FileStartedEvent>();
    auto finished = eventsOf<CopyEngine::FileFinishedEvent>();
    ASSERT_EQ(started.size(), 7u);
    ASSERT_EQ(finished.size(), 7u);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(started[i].index, i);
        EXPECT_EQ(started[i].total, 7);
        EXPECT_EQ(finished[i].outcome, run.outcomes[i]);
    }
    EXPECT_TRUE(eventsOf<CopyEngine::SettlingEvent>().empty());
    // Progress: one event per 64 KiB chunk; the overall count includes earlier files.
    int64_t handled = 0;
    int fileIndex = -1;
    int progressForEmpty = 0;
    for (const auto& e : events) {
        if (auto* s = std::get_if<CopyEngine::FileStartedEvent>(&e)) fileIndex = s->index;
        if (auto* p = std::get_if<CopyEngine::FileProgressEvent>(&e)) {
            EXPECT_EQ(p->overallBytesCopied, handled + p->bytesCopiedThisFile);
            EXPECT_EQ(p->fileBytes, run.outcomes[fileIndex].byteSize);
            EXPECT_EQ(p->overallBytes, run.plannedBytes);
            if (run.outcomes[fileIndex].byteSize == 0) ++progressForEmpty;
        }
        if (auto* f = std::get_if<CopyEngine::FileFinishedEvent>(&e)) handled += f->outcome.byteSize;
    }
    EXPECT_EQ(progressForEmpty, 0);
    EXPECT_EQ(eventsOf<CopyEngine::FileProgressEvent>().size(), 5u + 2 + 5 + 16 + 1 + 2);

    // The read-back of the file copied live (the batch's first) counts its bytes, from 0 to
    // the whole, after its last progress and before its finish; the files written ahead of
    // their events send none.
    using Check = CopyEngine::CheckingEvent;
    std::vector<Check> readBack;
    bool copiedWhole = false;
    int finishedSoFar = 0;
    for (const auto& e : events) {
        if (auto* p = std::get_if<CopyEngine::FileProgressEvent>(&e); p && finishedSoFar == 0)
            copiedWhole = p->bytesCopiedThisFile == p->fileBytes;
        if (auto* c = std::get_if<Check>(&e); c && c->phase == Check::Phase::readBack) {
            EXPECT_TRUE(copiedWhole);
            EXPECT_EQ(finishedSoFar, 0) << "read back after its finish";
            readBack.push_back(*c);
        }
        if (std::holds_alternative<CopyEngine::FileFinishedEvent>(e)) ++finishedSoFar;
    }
    ASSERT_EQ(readBack.size(), 2u) << "a 70,000-byte file reads back in one read";
    EXPECT_EQ(readBack.front(), (Check{Check::Phase::readBack, 1, 7, 0, 70'000}));
    EXPECT_EQ(readBack.back(), (Check{Check::Phase::readBack, 1, 7, 70'000, 70'000}));
}

TEST_F(CopyEngineTest, CardCopyTakesCardStructureFilesTheScannerWouldNotList) {
    writePatternFile(card() / "PRIVATE/AVCHD/BDMV/INDEX.BDM", 500, 1);
    writePatternFile(card() / "PRIVATE/AVCHD/BDMV/PLAYLIST/00000.MPL", 600, 2);
    writePatternFile(card() / "CONTENTS/CLIP/0001AB.BIN", 700, 3);
    CopyEngine::CopyRun run = CopyEngine().copy(card(), drive(), options(), SettleOptions::none(), [] { return false; });
    EXPECT_EQ(run.outcomes.size(), 3u);
    for (const auto& outcome : run.outcomes) EXPECT_EQ(outcome.status.kind, Kind::copiedVerified);
}

TEST_F(CopyEngineTest, ReRunCopiesNothingNewAndClashesGetSuffixes) {
    makeCard();
    CopyEngine engine;
    engine.copy(card(), drive(), options(), SettleOptions::none(), [] { return false; });
    auto before = treeOf(drive());

    CopyEngine::CopyRun again = engine.copy(card(), drive(), options(), SettleOptions::none(), [] { return false; });
    for (const auto& outcome : again.outcomes) {
        EXPECT_EQ(outcome.status.kind, Kind::skippedAlreadyPresent) << outcome.relativePath;
        EXPECT_EQ(outcome.sourceChecksum, outcome.destinationChecksum);
        EXPECT_TRUE(outcome.sourceChecksum.has_value());
    }
    EXPECT_EQ(treeOf(drive()), before);

    // A different file under a taken name is left alone; the source lands beside it.
    writePatternFile(drive() / "AUDIO/ZOOM0001.WAV", 70'000, 99);
    std::string foreign = readFile(drive() / "AUDIO/ZOOM0001.WAV");
    auto third = engine.copy(listOf(card(), {"AUDIO/ZOOM0001.WAV"}), card(), drive(), options(), [] { return false; });
    ASSERT_EQ(third.outcomes.size(), 1u);
    EXPECT_EQ(third.outcomes[0].status.kind, Kind::copiedVerified);
    EXPECT_EQ(third.outcomes[0].destinationURL, drive() / "AUDIO/ZOOM0001_1.WAV");
    EXPECT_EQ(third.outcomes[0].relativePath, "AUDIO/ZOOM0001.WAV");
    EXPECT_EQ(readFile(drive() / "AUDIO/ZOOM0001.WAV"), foreign);

    // Without skipping, an identical file is passed over too: the next free name is _2.
    auto fourth = engine.copy(listOf(card(), {"AUDIO/ZOOM0001.WAV"}), card(), drive(),
                              options(true, true, false), [] { return false; });
    EXPECT_EQ(fourth.outcomes[0].destinationURL, drive() / "AUDIO/ZOOM0001_2.WAV");
    EXPECT_TRUE(sameBytes(card() / "AUDIO/ZOOM0001.WAV", drive() / "AUDIO/ZOOM0001_2.WAV"));
}

TEST_F(CopyEngineTest, FlatModeKeepsNamesApartIgnoringCase) {
    writePatternFile(card() / "A/IMG_0001.JPG", 1000, 1);
    writePatternFile(card() / "B/img_0001.jpg", 1000, 2);
    writePatternFile(card() / "C/README", 10, 3);
    writePatternFile(drive() / "README", 10, 4);  // same size, different bytes
    auto run = CopyEngine().copy(listOf(card(), {"B/img_0001.jpg", "A/IMG_0001.JPG", "C/README"}), card(), drive(),
                                 options(false), [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 3u);
    EXPECT_EQ(run.outcomes[0].destinationURL, drive() / "IMG_0001.JPG");
    EXPECT_EQ(run.outcomes[0].relativePath, "A/IMG_0001.JPG");
    EXPECT_EQ(run.outcomes[1].destinationURL, drive() / "img_0001_1.jpg");
    EXPECT_EQ(run.outcomes[2].destinationURL, drive() / "README_1");
    for (const auto& outcome : run.outcomes) EXPECT_EQ(outcome.status.kind, Kind::copiedVerified);
}

TEST_F(CopyEngineTest, LinksAndTheSourceItselfNeverCountAsAlreadyPresent) {
    writePatternFile(card() / "A.MOV", 5000, 1);
    writePatternFile(card() / "B.MOV", 5000, 2);
    fs::create_directories(drive());
    fs::create_hard_link(card() / "A.MOV", drive() / "A.MOV");  // the same inode as the source
    fs::create_symlink(card() / "B.MOV", drive() / "B.MOV");    // a link back to the source
    auto run = CopyEngine().copy(listOf(card(), {"A.MOV", "B.MOV"}), card(), drive(), options(), [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 2u);
    EXPECT_EQ(run.outcomes[0].status.kind, Kind::copiedVerified);
    EXPECT_EQ(run.outcomes[0].destinationURL, drive() / "A_1.MOV");
    EXPECT_EQ(run.outcomes[1].status.kind, Kind::copiedVerified);
    EXPECT_EQ(run.outcomes[1].destinationURL, drive() / "B_1.MOV");
    EXPECT_TRUE(fs::is_symlink(drive() / "B.MOV"));
}

TEST_F(CopyEngineTest, UnverifiedCopiesCarryOnlyTheSourceDigest) {
    writePatternFile(card() / "A.MOV", 5000, 1);
    auto run = CopyEngine().copy(listOf(card(), {"A.MOV"}), card(), drive(), options(true, false), [] { return false; });
    EXPECT_EQ(run.outcomes[0].status.kind, Kind::copiedNotVerified);
    EXPECT_TRUE(run.outcomes[0].sourceChecksum.has_value());
    EXPECT_FALSE(run.outcomes[0].destinationChecksum.has_value());
}

TEST_F(CopyEngineTest, EmptyListAndCancellation) {
    auto empty = CopyEngine().copy(std::vector<MediaFile>{}, card(), drive(), options(), [] { return false; }, record());
    EXPECT_EQ(empty, (CopyEngine::CopyRun{{}, false, 0, 0}));
    EXPECT_TRUE(empty.isComplete());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<CopyEngine::PlannedEvent>(events[0]));

    writePatternFile(card() / "A.MOV", 100, 1);
    writePatternFile(card() / "B.MOV", 200, 2);
    events.clear();
    auto stopped = CopyEngine().copy(listOf(card(), {"A.MOV", "B.MOV"}), card(), drive(), options(),
                                     [] { return true; }, record());
    EXPECT_EQ(stopped, (CopyEngine::CopyRun{{}, true, 2, 300}));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<CopyEngine::CancelledEvent>(events[1]));
    EXPECT_FALSE(fs::exists(drive()));

    // Stop after the first file. The second was written ahead in the same batch and proven
    // and placed before the stop was asked for: a proven copy under its final name stays, and
    // the stopped run lists it, so its log and the destination agree; nothing temporary stays.
    events.clear();
    bool stop = false;
    auto partial = CopyEngine().copy(listOf(card(), {"A.MOV", "B.MOV"}), card(), drive(), options(),
                                     [&] { return stop; },
                                     [&](const CopyEngine::Event& event) {
                                         events.push_back(event);
                                         stop = stop || std::holds_alternative<CopyEngine::FileFinishedEvent>(event);
                                     });
    EXPECT_TRUE(partial.wasCancelled);
    EXPECT_FALSE(partial.isComplete());
    ASSERT_EQ(partial.outcomes.size(), 2u);
    EXPECT_EQ(partial.outcomes[1].status.kind, Kind::copiedVerified);
    EXPECT_TRUE(sameBytes(card() / "B.MOV", drive() / "B.MOV"));
    EXPECT_TRUE(std::holds_alternative<CopyEngine::CancelledEvent>(events.back()));
    EXPECT_TRUE(temporaryFilesIn(drive()).empty());
}

TEST_F(CopyEngineTest, CardCopyCancelledDuringSettleWaitReturnsEmptyRun) {
    writePatternFile(card() / "A.MOV", 100, 1);
    int asked = 0;
    auto run = CopyEngine().copy(card(), drive(), options(), SettleOptions{5, 60, 0.01}, [&] { return ++asked > 2; },
                                 record());
    EXPECT_EQ(run, (CopyEngine::CopyRun{{}, true, 0, 0}));
    EXPECT_TRUE(std::holds_alternative<CopyEngine::CancelledEvent>(events.back()));
    EXPECT_FALSE(eventsOf<CopyEngine::SettlingEvent>().empty());

    events.clear();
    auto timedOut = CopyEngine().copy(card(), drive(), options(), SettleOptions{2, 0, 0.5}, [] { return false; },
                                      record());
    ASSERT_GE(events.size(), 3u);
    EXPECT_TRUE(std::holds_alternative<CopyEngine::SettlingEvent>(events[0]));
    EXPECT_TRUE(std::holds_alternative<CopyEngine::SettleTimedOutEvent>(events[1]));
    EXPECT_TRUE(std::holds_alternative<CopyEngine::PlannedEvent>(events[2]));
    EXPECT_EQ(timedOut.outcomes.size(), 1u);
}

TEST_F(CopyEngineTest, DestinationInsideTheCardIsRefusedBeforeAnythingIsWritten) {
    makeCard();
    auto before = treeOf(card());
    try {
        CopyEngine().copy(card(), card() / "Backup", options(), SettleOptions::none(), [] { return false; });
        FAIL() << "expected a refusal";
    } catch (const CopyError& error) {
        EXPECT_EQ(error.kind(), CopyError::Kind::destinationInsideSource);
        EXPECT_STREQ(error.what(),
                     "The destination folder is inside the card being copied — choose a folder on another drive.");
    }
    EXPECT_THROW(CopyEngine().copy(card(), card(), options(), SettleOptions::none(), [] { return false; }), CopyError);
    // Through a symbolic link to the card as well.
    fs::create_symlink(card(), sandbox / "cardlink");
    EXPECT_THROW(CopyEngine().copy(card(), sandbox / "cardlink/x", options(), SettleOptions::none(), [] { return false; }),
                 CopyError);
    EXPECT_EQ(treeOf(card()), before);

    // The file-list copy never throws: every file fails with the same sentence.
    auto run = CopyEngine().copy(listOf(card(), {"AUDIO/ZOOM0001.WAV"}), card(), card() / "DCIM", options(),
                                 [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 1u);
    EXPECT_EQ(run.outcomes[0].status.kind, Kind::failed);
    EXPECT_EQ(treeOf(card()), before);
}

TEST_F(CopyEngineTest, UnreadableCardAndBadArgumentsFailAsAWhole) {
    EXPECT_THROW(
        {
            try {
                CopyEngine().copy(sandbox / "nothing", drive(), options(), SettleOptions::none(), [] { return false; });
            } catch (const CopyError& error) {
                EXPECT_EQ(error.kind(), CopyError::Kind::cannotScanSource);
                EXPECT_EQ(std::string(error.what()).rfind("Couldn't read the card at " + (sandbox / "nothing").native() + ": ", 0), 0u);
                throw;
            }
        },
        CopyError);
    EXPECT_THROW(CopyEngine().copy(std::vector<MediaFile>{}, card(), drive(), options(true, true, true, 0),
                                   [] { return false; }),
                 std::invalid_argument);
}

TEST_F(CopyEngineTest, NoFreeNameAfterAThousandAttempts) {
    writePatternFile(card() / "X.JPG", 10, 1);
    fs::create_directories(drive());
    for (int i = 0; i < 1000; ++i) writeFile(drive() / CopyEngine::suffixedRelativePath("X.JPG", i), "different");
    auto run = CopyEngine().copy(listOf(card(), {"X.JPG"}), card(), drive(), options(), [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 1u);
    EXPECT_EQ(run.outcomes[0].status, CopyEngine::FileStatus::failed("Couldn't find a free name for X.JPG after 1000 attempts."));
    EXPECT_EQ(run.outcomes[0].destinationURL, drive() / "X.JPG");
}

TEST_F(CopyEngineTest, AFileAndAFolderInTheWayFailWithClearReasons) {
    writePatternFile(card() / "DCIM/A.JPG", 10, 1);
    writeFile(drive() / "DCIM", "a file where a folder must be");
    auto run = CopyEngine().copy(listOf(card(), {"DCIM/A.JPG"}), card(), drive(), options(), [] { return false; });
    EXPECT_EQ(run.outcomes[0].status.kind, Kind::failed);
    EXPECT_EQ(run.outcomes[0].status.reason.value_or("").rfind("Couldn't create destination folder: ", 0), 0u);
    EXPECT_EQ(readFile(drive() / "DCIM"), "a file where a folder must be");
}

TEST(CopyEngineNames, RelativePathAndSuffixes) {
    EXPECT_EQ(CopyEngine::relativePath("/card/DCIM/A.JPG", "/card"), "DCIM/A.JPG");
    EXPECT_EQ(CopyEngine::relativePath("/card/DCIM/A.JPG", "/card/"), "DCIM/A.JPG");
    EXPECT_EQ(CopyEngine::relativePath("/card/x/../DCIM/A.JPG", "/card"), "DCIM/A.JPG");
    EXPECT_EQ(CopyEngine::relativePath("/card/../../etc/passwd", "/card"), "passwd");
    EXPECT_EQ(CopyEngine::relativePath("/other/A.JPG", "/card"), "A.JPG");
    EXPECT_EQ(CopyEngine::relativePath("/card", "/card"), "card");
    EXPECT_EQ(CopyEngine::relativePath("/cardX/A.JPG", "/card"), "A.JPG");

    EXPECT_EQ(CopyEngine::suffixedRelativePath("IMG_0001.JPG", 3), "IMG_0001_3.JPG");
    EXPECT_EQ(CopyEngine::suffixedRelativePath("DCIM/100CANON/MVI_0002.MOV", 1), "DCIM/100CANON/MVI_0002_1.MOV");
    EXPECT_EQ(CopyEngine::suffixedRelativePath("README", 2), "README_2");
    EXPECT_EQ(CopyEngine::suffixedRelativePath("a.tar.gz", 1), "a.tar_1.gz");
    EXPECT_EQ(CopyEngine::suffixedRelativePath(".scratch", 1), ".scratch_1");
    EXPECT_EQ(CopyEngine::suffixedRelativePath("dir.d/file", 1), "dir.d/file_1");
    EXPECT_EQ(CopyEngine::suffixedRelativePath("A.JPG", 0), "A.JPG");
}

}  // namespace
}  // namespace tessaline
