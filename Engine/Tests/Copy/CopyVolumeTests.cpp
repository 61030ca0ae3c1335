// The copy engine against real volumes: a destination that fills up, a destination drive
// pulled mid-run or whose FUSE daemon dies, a source file that vanishes mid-run, a stop inside
// a large file, a card on exFAT (FUSE), and names a drive cannot hold.

#include "Copy/FaultyCopyIO.hpp"
#include "Copy/TemporaryFiles.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"
#include "Tessaline/Transfer/TransferLogExporter.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <thread>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using namespace tessaline::testing;
using Kind = CopyEngine::FileStatus::Kind;

std::set<std::string> namesIn(const fs::path& root) {
    std::set<std::string> names;
    for (auto& entry : fs::recursive_directory_iterator(root)) names.insert(fs::relative(entry.path(), root));
    return names;
}

// The exfat-fuse daemon serving `volume` (the process whose arguments name its device and
// mount point), or 0.
pid_t fuseDaemonOf(const LoopVolume& volume) {
    for (auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        const std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::string> arguments;
        for (size_t start = 0; start < line.size();) {
            const size_t end = line.find('\0', start);
            arguments.push_back(line.substr(start, end - start));
            start = end == std::string::npos ? line.size() : end + 1;
        }
        auto has = [&](const std::string& argument) {
            return std::find(arguments.begin(), arguments.end(), argument) != arguments.end();
        };
        if (!arguments.empty() && arguments[0].find("exfat") != std::string::npos && has(volume.device()) &&
            has(volume.mountPoint().string()))
            return static_cast<pid_t>(std::stoi(name));
    }
    return 0;
}

class CopyVolumeTest : public SandboxedTest {
protected:
    std::vector<MediaFile> makeFiles(const fs::path& root, int count, size_t size) {
        std::vector<MediaFile> files;
        for (int i = 0; i < count; ++i) {
            fs::path path = root / "DCIM" / ("C" + std::to_string(i) + ".MOV");
            writePatternFile(path, size, 10 + i);
            files.push_back({path, MediaFile::Kind::media, static_cast<int64_t>(size)});
        }
        return files;
    }
};

TEST_F(CopyVolumeTest, AFullDestinationFailsTheFileAndRemovesItsPartialCopy) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 16, "SMALL");
    // Three clips of 6 MiB onto a 16 MiB file system: the third cannot fit.
    auto files = makeFiles(sandbox / "CARD", 3, 6 * 1024 * 1024);
    fs::path destination = drive.mountPoint() / "Backup";
    auto run = CopyEngine().copy(files, sandbox / "CARD", destination, {}, [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 3u);
    int failed = 0;
    for (const auto& outcome : run.outcomes) {
        if (outcome.status.kind == Kind::copiedVerified) {
            EXPECT_EQ(readFile(outcome.sourceURL), readFile(outcome.destinationURL));
        } else {
            ++failed;
            EXPECT_EQ(outcome.status, CopyEngine::FileStatus::failed("No space left on device"));
            EXPECT_FALSE(fs::exists(outcome.destinationURL)) << "partial copy left under its final name";
        }
    }
    EXPECT_GE(failed, 1);
}

TEST_F(CopyVolumeTest, ADrivePulledMidRunFailsTheRestAndWritesNothingElsewhere) {
    TESSALINE_REQUIRE_ROOT();
    auto drive = std::make_unique<LoopVolume>("ext4", 64, "BACKUP");
    auto files = makeFiles(sandbox / "CARD", 4, 200'000);
    const fs::path mountPoint = drive->mountPoint();
    const fs::path destination = mountPoint / "Shoot";
    // The drive goes away once the second file is written, with both copies still open.
    auto io = std::make_shared<FaultyIO>();
    io->afterFutimens = [&](int call) {
        if (call == 2) drive->unmountLazily();
    };
    auto run = CopyEngine(io).copy(files, sandbox / "CARD", destination, {}, [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 4u);
    // The two copies in flight never got their final names; the rest were never started.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(run.outcomes[i].status, CopyEngine::FileStatus::failed(CopyEngine::destinationGoneText)) << i;
    // The empty mount-point folder on the root file system got nothing.
    EXPECT_TRUE(fs::is_empty(mountPoint));
    // The temporary copies on the pulled drive were removed through their open folder.
    drive->remount();
    EXPECT_EQ(namesIn(destination), (std::set<std::string>{"DCIM"}));
}

// The drive's FUSE daemon dies once the second file is written: the two copies in flight and
// every later file fail with the sentence for a drive that left, never with the errno the dead
// mount answers ("Transport endpoint is not connected"), and no final name holds a copy.
TEST_F(CopyVolumeTest, ADriveWhoseDaemonDiesFailsAsADriveThatLeft) {
    TESSALINE_REQUIRE_ROOT();
    auto drive = std::make_unique<LoopVolume>("exfat", 64, "SHUTTLE");
    auto files = makeFiles(sandbox / "CARD", 5, 200'000);
    const fs::path destination = drive->mountPoint() / "Shoot";
    const pid_t daemon = fuseDaemonOf(*drive);
    ASSERT_GT(daemon, 0) << "no exfat-fuse daemon found for " << drive->device();
    auto io = std::make_shared<FaultyIO>();
    io->afterFutimens = [&](int call) {
        if (call != 2) return;
        ::kill(daemon, SIGKILL);
        for (int wait = 0; wait < 200 && ::kill(daemon, 0) == 0; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    auto run = CopyEngine(io).copy(files, sandbox / "CARD", destination, {}, [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 5u);
    for (const auto& outcome : run.outcomes)
        EXPECT_EQ(outcome.status, CopyEngine::FileStatus::failed(CopyEngine::destinationGoneText))
            << outcome.relativePath << ": " << outcome.status.reason.value_or("");
    // A run onto the dead mount says the same of every file.
    auto later = CopyEngine().copy(files, sandbox / "CARD", destination, {}, [] { return false; });
    ASSERT_EQ(later.outcomes.size(), 5u);
    for (const auto& outcome : later.outcomes)
        EXPECT_EQ(outcome.status, CopyEngine::FileStatus::failed(CopyEngine::destinationGoneText))
            << outcome.relativePath << ": " << outcome.status.reason.value_or("");
    // Mounted again, the drive holds no copy under a final name.
    drive->unmountLazily();
    drive->remount();
    for (auto& entry : fs::recursive_directory_iterator(destination))
        if (entry.is_regular_file()) EXPECT_EQ(entry.path().filename().native().front(), '.') << entry.path();
}

TEST_F(CopyVolumeTest, ASourceThatVanishesMidRunFailsOnlyThatFile) {
    auto files = makeFiles(sandbox / "CARD", 3, 100'000);
    const fs::path destination = sandbox / "DRIVE";
    // The second source goes just before the engine opens it.
    auto io = std::make_shared<FaultyIO>();
    io->beforeOpen = [&](const char* path, int) {
        if (files[1].url == path) fs::remove(files[1].url);
    };
    auto run = CopyEngine(io).copy(files, sandbox / "CARD", destination, {}, [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 3u);
    EXPECT_EQ(run.outcomes[0].status.kind, Kind::copiedVerified);
    EXPECT_EQ(run.outcomes[1].status, CopyEngine::FileStatus::failed("No such file or directory"));
    EXPECT_EQ(run.outcomes[2].status.kind, Kind::copiedVerified);
    EXPECT_FALSE(fs::exists(destination / "DCIM/C1.MOV"));
}

TEST_F(CopyVolumeTest, AFileThatGrowsOnTheCardIsNotCalledVerified) {
    auto files = makeFiles(sandbox / "CARD", 1, 100'000);
    files[0].byteSize = 90'000;  // listed before the camera finished writing
    auto run = CopyEngine().copy(files, sandbox / "CARD", sandbox / "DRIVE", {}, [] { return false; });
    EXPECT_EQ(run.outcomes[0].status,
              CopyEngine::FileStatus::verificationFailed(
                  "Source changed size during the copy (90000 → 100000 bytes) — the card was still being written to. "
                  "Re-run after the camera finishes."));
    // A copy that is not proven never takes its final name, and is not kept.
    EXPECT_FALSE(fs::exists(sandbox / "DRIVE/DCIM/C0.MOV"));
    EXPECT_TRUE(temporaryFilesIn(sandbox / "DRIVE").empty());
}

// Stop clicked inside a clip larger than a batch: while it is written, while its copy is read
// back, and while it is compared with an identical file already at the destination. The run
// ends at once, the clip is neither reported nor counted, nothing this run wrote of it stays at
// the destination (a file that was there before stays as it was), and the clip before it stays
// proven.
TEST_F(CopyVolumeTest, AStopInsideALargeFileEndsTheRunAtOnceAndLeavesNothingOfIt) {
    TESSALINE_REQUIRE_ROOT();
    using Clock = std::chrono::steady_clock;
    LoopVolume drive("ext4", 400, "STOPDRIVE");
    const fs::path card = sandbox / "CARD";
    writePatternFile(card / "DCIM/A001.JPG", 100'000, 1);
    const int64_t large = (int64_t{272} << 20) + 3;  // more than a batch, many chunks
    writePatternFile(card / "DCIM/A002.MOV", static_cast<size_t>(large), 2);
    enum class During { write, readBack, comparison };
    for (const During during : {During::write, During::readBack, During::comparison}) {
        const char* name = during == During::write ? "Write" : during == During::readBack ? "ReadBack" : "Comparison";
        SCOPED_TRACE(name);
        const fs::path destination = drive.mountPoint() / name;
        const fs::path there = destination / "DCIM/A002.MOV";
        if (during == During::comparison) {
            fs::create_directories(there.parent_path());
            fs::copy_file(card / "DCIM/A002.MOV", there);
        }
        std::atomic<bool> stop{false};
        Clock::time_point stoppedAt{};
        auto raise = [&] {
            if (!stop.exchange(true)) stoppedAt = Clock::now();
        };
        // The read-back opens the copy, still under its temporary name, for reading; the
        // comparison opens the card file, nothing being written. The stop comes once two chunks
        // were read.
        std::atomic<int> testsSinceOpen{-1};
        auto io = std::make_shared<FaultyIO>();
        io->beforeOpen = [&](const char* path, int flags) {
            const bool readBack = (flags & O_ACCMODE) == O_RDONLY && isTemporaryOf(path, there);
            const bool comparison = card / "DCIM/A002.MOV" == path;
            if ((during == During::readBack && readBack) || (during == During::comparison && comparison))
                testsSinceOpen = 0;
        };
        // Card reads made for the write after the stop: none, the write ends at its next chunk.
        std::atomic<int> readsAfterStop{0};
        io->afterRead = [&](int, int) { readsAfterStop += stop ? 1 : 0; };
        auto isCancelled = [&] {
            if (testsSinceOpen >= 0 && ++testsSinceOpen == 3) raise();
            return stop.load();
        };
        std::vector<std::string> seen;
        auto onEvent = [&](const CopyEngine::Event& event) {
            if (auto* e = std::get_if<CopyEngine::FileProgressEvent>(&event)) {
                if (during == During::write && e->fileBytes == large && e->bytesCopiedThisFile >= (int64_t{64} << 20)) raise();
            } else if (auto* e = std::get_if<CopyEngine::FileFinishedEvent>(&event)) {
                seen.push_back("finish " + e->outcome.relativePath);
            } else if (std::holds_alternative<CopyEngine::CancelledEvent>(event)) {
                seen.push_back("cancelled");
            }
        };
        const auto run = CopyEngine(io).copy(card, destination, {}, SettleOptions::none(), isCancelled, onEvent);
        const auto ended = Clock::now();

        ASSERT_TRUE(stop);
        EXPECT_EQ(readsAfterStop, 0);
        EXPECT_LT(std::chrono::duration<double>(ended - stoppedAt).count(), 1.0);
        EXPECT_EQ(seen, (std::vector<std::string>{"finish DCIM/A001.JPG", "cancelled"}));
        EXPECT_TRUE(run.wasCancelled);
        EXPECT_EQ(run.plannedFileCount, 2);
        ASSERT_EQ(run.outcomes.size(), 1u);
        EXPECT_EQ(run.outcomes[0].status.kind, Kind::copiedVerified);
        EXPECT_EQ(readFile(destination / "DCIM/A001.JPG"), readFile(card / "DCIM/A001.JPG"));
        if (during == During::comparison) {
            EXPECT_EQ(fs::file_size(there), static_cast<uintmax_t>(large));
            EXPECT_FALSE(fs::exists(destination / "DCIM/A002_1.MOV"));
        } else {
            EXPECT_FALSE(fs::exists(there));
        }
        EXPECT_TRUE(temporaryFilesIn(destination).empty());
        const auto log = TransferLog::fromRun(card, destination, true, 0, 1, run);
        EXPECT_EQ(log.standing(), TransferLog::TransferStanding::cancelledIncomplete(1, 2));
        EXPECT_EQ(log.unhandledCount(), 1);
    }
}

TEST_F(CopyVolumeTest, ExfatCardToExt4DriveAndBack) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("exfat", 64, "EOS_DIGITAL");
    LoopVolume drive("ext4", 64, "SHUTTLE");
    writePatternFile(card.mountPoint() / "DCIM/100EOS5D/IMG_0001.CR3", 3'000'001, 1);
    writePatternFile(card.mountPoint() / "DCIM/100EOS5D/IMG_0001.JPG", 900'000, 2);
    writePatternFile(card.mountPoint() / "PRIVATE/LASTCLIP.TXT", 12, 3);
    auto run = CopyEngine().copy(card.mountPoint(), drive.mountPoint() / "Day1", {}, SettleOptions::none(),
                                 [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 3u);
    for (const auto& outcome : run.outcomes) {
        EXPECT_EQ(outcome.status.kind, Kind::copiedVerified) << outcome.relativePath;
        EXPECT_EQ(readFile(outcome.sourceURL), readFile(outcome.destinationURL));
    }
    // And back onto the card, where FUSE may refuse direct reads: still proven.
    auto back = CopyEngine().copy({{drive.mountPoint() / "Day1/PRIVATE/LASTCLIP.TXT", MediaFile::Kind::media, 12}},
                                  drive.mountPoint(), card.mountPoint() / "back", {}, [] { return false; });
    EXPECT_EQ(back.outcomes[0].status.kind, Kind::copiedVerified);
}

// The closing look at the card: a file removed, one added and one rewritten after the copies
// were proven are named; a card left alone gives nothing, also where its file system numbered
// its files afresh meanwhile.
TEST_F(CopyVolumeTest, TheCardIsReadAgainWhenTheLastFileIsProvenAndItsChangesAreNamed) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 64, "SHUTTLE");
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        LoopVolume card(fsType, 64, "CARD");
        writePatternFile(card.mountPoint() / "DCIM/A.MOV", 300'000, 1);
        writePatternFile(card.mountPoint() / "DCIM/B.MOV", 200'000, 2);
        writePatternFile(card.mountPoint() / "DCIM/C.MOV", 100'000, 3);
        // The kernel forgets the card's entries during the copy: on exFAT the files come back
        // with new numbers, and their bytes show they are the files copied.
        bool forgotten = false;
        auto quiet = CopyEngine().copy(card.mountPoint(), drive.mountPoint() / ("Quiet-" + fsType), {},
                                       SettleOptions::none(), [] { return false; }, [&](const CopyEngine::Event& event) {
                                           if (forgotten || !std::holds_alternative<CopyEngine::FileFinishedEvent>(event))
                                               return;
                                           forgotten = true;
                                           LoopVolume::dropCaches();
                                       });
        EXPECT_TRUE(quiet.isComplete());
        EXPECT_TRUE(quiet.changedOnCard.empty());

        bool changed = false;
        auto run = CopyEngine().copy(card.mountPoint(), drive.mountPoint() / ("Busy-" + fsType), {},
                                     SettleOptions::none(), [] { return false; }, [&](const CopyEngine::Event& event) {
                                         if (changed || !std::holds_alternative<CopyEngine::FileFinishedEvent>(event))
                                             return;
                                         changed = true;
                                         fs::remove(card.mountPoint() / "DCIM/B.MOV");
                                         writeFile(card.mountPoint() / "DCIM/A.MOV", "shorter now");
                                         writeFile(card.mountPoint() / "DCIM/D.MOV", "new take");
                                     });
        ASSERT_TRUE(changed);
        // Every file was proven before the first was reported (one batch): all three changes
        // came after their copies.
        for (const auto& outcome : run.outcomes) EXPECT_EQ(outcome.status.kind, Kind::copiedVerified);
        EXPECT_EQ(run.changedOnCard, (std::vector<std::string>{"DCIM/A.MOV", "DCIM/B.MOV", "DCIM/D.MOV"}));
        EXPECT_FALSE(TransferLog::fromRun(card.mountPoint(), drive.mountPoint(), true, 0, 1, run).allVerified());
    }
}

// Names an exFAT drive cannot hold, made on an ext4 card: each fails, and its reason names the
// name and the characters at fault (exfat-fuse itself answers "No such file or directory"),
// in the outcome, the transfer log's text and its PDF. The rest of the card is copied.
TEST_F(CopyVolumeTest, NamesAnExfatDriveCannotHoldFailWithTheNameAndItsCharacters) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, "CARD");
    LoopVolume drive("exfat", 32, "SHUTTLE");
    const fs::path root = card.mountPoint();
    writePatternFile(root / "a:b.txt", 100, 1);
    writePatternFile(root / "q?.txt", 100, 2);
    writePatternFile(root / "c\x01" "d.txt", 100, 3);
    writePatternFile(root / "x|y<z>.txt", 100, 4);
    writePatternFile(root / "night:1/CLIP.MOV", 100, 5);
    writePatternFile(root / "fine.txt", 100, 6);
    std::vector<MediaFile> files;
    for (const char* name : {"a:b.txt", "q?.txt", "c\x01" "d.txt", "x|y<z>.txt", "night:1/CLIP.MOV", "fine.txt"})
        files.push_back({root / name, MediaFile::Kind::media, 100});
    const fs::path destination = drive.mountPoint() / "Day1";
    auto run = CopyEngine().copy(files, root, destination, {}, [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 6u);
    std::map<std::string, std::string> reasons;
    for (const auto& outcome : run.outcomes) {
        if (outcome.relativePath == "fine.txt") {
            EXPECT_EQ(outcome.status.kind, Kind::copiedVerified);
            continue;
        }
        EXPECT_EQ(outcome.status.kind, Kind::failed) << outcome.relativePath;
        reasons[outcome.relativePath] = outcome.status.reason.value_or("");
    }
    const std::string cannotHold = "the destination's file system can't hold the name ";
    EXPECT_EQ(reasons["a:b.txt"],
              "Couldn't create destination file: " + cannotHold + "“a:b.txt” (“:” isn't allowed in a name there).");
    EXPECT_EQ(reasons["q?.txt"],
              "Couldn't create destination file: " + cannotHold + "“q?.txt” (“?” isn't allowed in a name there).");
    EXPECT_EQ(reasons["c\x01" "d.txt"], "Couldn't create destination file: " + cannotHold +
                                        "“c\uFFFDd.txt” (the control character U+0001 isn't allowed in a name there).");
    EXPECT_EQ(reasons["x|y<z>.txt"], "Couldn't create destination file: " + cannotHold +
                                        "“x|y<z>.txt” (“|”, “<” and “>” aren't allowed in a name there).");
    EXPECT_EQ(reasons["night:1/CLIP.MOV"],
              "Couldn't create destination folder: " + cannotHold + "“night:1” (“:” isn't allowed in a name there)");

    TransferLog log = TransferLog::fromRun(root, destination, true, 1'741'356'300, 1'741'356'309, run);
    const std::string summary = log.summary();
    for (const auto& [path, reason] : reasons)
        EXPECT_NE(summary.find(reason), std::string::npos) << "the text names why " << path << " failed";
    writeFile(sandbox / "log.pdf", TransferLogExporter::pdf(log));
    std::string pdf = pdfText(sandbox / "log.pdf");
    // pdftotext's layout mode may widen blanks.
    std::string words;
    for (char c : pdf)
        if (!(c == ' ' && !words.empty() && words.back() == ' ')) words += c;
    EXPECT_NE(words.find("Why: Couldn't create destination file: the destination's file system can't hold the name "
                         "“a:b.txt” (“:” isn't allowed in a name there)."),
              std::string::npos)
        << pdf;
    EXPECT_NE(words.find("“q?.txt” (“?” isn't allowed in a name there)."), std::string::npos) << pdf;
    EXPECT_NE(words.find("“c\uFFFDd.txt” (the control character U+0001"), std::string::npos) << pdf;
}

// A 255-byte name whose own name on the drive is taken by another file, so its copy would go
// under the name with "_1", which is too long: the reason says so. On exFAT, which takes the
// name of a card file differing only in case for the same name, and on ext4, where a file of
// that name is already there; a name with room for the suffix goes to it as ever.
TEST_F(CopyVolumeTest, ANameTooLongOnlyForItsSuffixSaysSo) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, "CARD");
    const fs::path root = card.mountPoint();
    const std::string longName = "C" + std::string(250, 'a') + ".MP4";  // 255 bytes
    const std::string foldedName = "c" + std::string(250, 'A') + ".MP4";
    writePatternFile(root / "DCIM" / longName, 3'000, 1);
    writePatternFile(root / "DCIM" / foldedName, 2'000, 2);
    writePatternFile(root / "DCIM/Camera.MP4", 1'000, 3);
    writePatternFile(root / "DCIM/camera.mp4", 1'500, 4);
    std::vector<MediaFile> files;
    for (const std::string& name : {longName, foldedName, std::string("Camera.MP4"), std::string("camera.mp4")}) {
        const fs::path file = root / "DCIM" / name;
        files.push_back({file, MediaFile::Kind::media, static_cast<int64_t>(fs::file_size(file))});
    }
    const std::string tooLong = "Couldn't create destination file: the name “" + foldedName +
                                "” is taken on the destination by a different file, and with “_1” added it "
                                "is too long for the destination's file system.";

    LoopVolume exfat("exfat", 32, "SHUTTLE");
    auto run = CopyEngine().copy(files, root, exfat.mountPoint() / "Day1", {}, [] { return false; });
    ASSERT_EQ(run.outcomes.size(), 4u);
    std::map<std::string, CopyEngine::FileOutcome> byName;
    for (const auto& outcome : run.outcomes) byName[outcome.relativePath] = outcome;
    EXPECT_EQ(byName["DCIM/" + longName].status.kind, Kind::copiedVerified);
    EXPECT_EQ(byName["DCIM/" + foldedName].status, CopyEngine::FileStatus::failed(tooLong));
    EXPECT_EQ(byName["DCIM/camera.mp4"].destinationURL, exfat.mountPoint() / "Day1/DCIM/camera_1.mp4");
    EXPECT_EQ(byName["DCIM/camera.mp4"].status.kind, Kind::copiedVerified);
    EXPECT_TRUE(temporaryFilesIn(exfat.mountPoint()).empty());

    // ext4 keeps both names apart; a file of the drive's own under the name is what takes it.
    LoopVolume ext4("ext4", 32, "BACKUP");
    writePatternFile(ext4.mountPoint() / "Day1/DCIM" / foldedName, 2'000, 9);
    auto again = CopyEngine().copy({files[1]}, root, ext4.mountPoint() / "Day1", {}, [] { return false; });
    ASSERT_EQ(again.outcomes.size(), 1u);
    EXPECT_EQ(again.outcomes[0].status, CopyEngine::FileStatus::failed(tooLong));
    EXPECT_TRUE(temporaryFilesIn(ext4.mountPoint()).empty());
}

}  // namespace
}  // namespace tessaline
