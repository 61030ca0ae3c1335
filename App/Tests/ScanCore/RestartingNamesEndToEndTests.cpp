// A card whose camera restarts its clip names on every card, scanned end to end
// (ScanRun::perform) against a loop-mounted ext4 RAID holding dozens of earlier cards copied
// whole under the same names: today's copy, laid out as the card is, is found within the
// bound on reading whatever the earlier cards' names, folders and copy times. Frames are
// undated TIFF stills named like a cinema camera's (B001C001/B001C001_000000.DNG), sparse
// past their header with eight bytes of their own at the end, so the RAID costs little room.
// What a scan reads is taken from /proc/self/io, less what the same scan of a card of frames
// one byte longer (no drive file of their size: nothing to prove) reads.

#include "GrantedDriveScan.hpp"
#include "SparseFrames.hpp"

#include "BrindlecoveApp/ViewModels/ScanRun.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/LoopVolumeSet.hpp"
#include "Support/MediaFixtures.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Report/ReportExporter.hpp"

#include <gtest/gtest.h>

#include <sys/time.h>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using tessaline::MatchStatus;
using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;

constexpr double hour = 3600;
constexpr double day = 24 * hour;

// A card's layout: `clips` clip folders of `frames` frames each, of `frameSize` bytes.
struct Shape {
    int clips = 10;
    int frames = 48;
    int64_t frameSize = 256 << 10;
    int64_t cardBytes() const { return int64_t(clips) * frames * frameSize; }
};

// Frame `f` of clip `c` (from 1) on the card, by its place below the card root.
std::string place(int c, int f, bool flattened = false) {
    char clip[16], frame[32];
    std::snprintf(clip, sizeof clip, "B001C%03d", c);
    std::snprintf(frame, sizeof frame, "%s_%06d.DNG", clip, f);
    return flattened ? std::string(frame) : std::string(clip) + "/" + frame;
}

class RestartingNamesEndToEndTest : public testing::AppSandboxedTest {
protected:
    void SetUp() override {
        AppSandboxedTest::SetUp();
        const fs::path tiff = sandbox / "frame.tif";
        tessaline::testing::ffmpeg({"-f", "lavfi", "-i", "testsrc=size=16x12", "-frames:v", "1", tiff.string()});
        header_ = tessaline::testing::readFile(tiff);
    }

    // A frame of `size` bytes: the TIFF, a hole, and eight bytes of `number`; modified at `when`.
    void writeFrame(const fs::path& file, uint64_t number, int64_t size, double when) const {
        testing::writeSparseFrame(file, header_, number, size, when);
    }

    // Card number `card` (today's is 0) shot from 07:10 of `shootDay`, one frame every 12 s;
    // written below `root` (its copy, modified at `copiedAt` plus a second per frame; the card
    // itself at its shooting times when none).
    void writeCard(const fs::path& root, const Shape& shape, int card, std::optional<double> copiedAt,
                   bool flattened = false, int64_t sizeDelta = 0) const {
        for (int c = 1; c <= shape.clips; ++c)
            for (int f = 0; f < shape.frames; ++f) {
                const int k = (c - 1) * shape.frames + f;
                const double shot = shootDay_ + 7 * hour + 10 * 60 + 12 * k;
                writeFrame(root / place(c, f, flattened), uint64_t(card) * 100'000 + uint64_t(k), shape.frameSize + sizeDelta,
                           copiedAt ? *copiedAt + k : shot);
            }
    }

    // The scan of `card` against `folders` granted as drives, and the bytes it read.
    std::pair<ReportPtr, int64_t> scan(const fs::path& card, const std::vector<fs::path>& folders) {
        const fs::path grants = sandbox / "grants.json";
        fs::remove(grants);
        std::vector<std::string> labels;
        for (const fs::path& folder : folders) {
            tessaline::SecurityScopedBookmarkStore(grants).grant(folder);
            labels.push_back(tessaline::SecurityScopedBookmarkStore(grants).grantedVolumeLabels().back());
        }
        ScanRun::Environment environment;
        environment.bookmarkStoreURL = grants;
        environment.openCache = [] { return nullptr; };
        environment.fingerprintThreads = 2;
        const int64_t before = testing::processBytesRead();
        auto outcome = ScanRun::perform({card, labels, false, false}, environment, {}, {});
        const int64_t read = testing::processBytesRead() - before;
        auto* report = std::get_if<ReportPtr>(&outcome);
        EXPECT_TRUE(report) << std::get<ScanFailure>(outcome).message;
        return {report ? *report : nullptr, read};
    }

    // The scan of `card` against `folders`, and what its proof read over the card's bytes: the
    // bytes it read less those the same scan of `longer` (the card's frames one byte longer)
    // read.
    std::pair<ReportPtr, double> provenReading(const fs::path& card, const fs::path& longer, const Shape& shape,
                                               const std::vector<fs::path>& folders) {
        auto [report, read] = scan(card, folders);
        auto [peer, peerRead] = scan(longer, folders);
        if (peer) EXPECT_TRUE(peer->confirmed().empty() && peer->duplicates().empty());
        return {report, double(read - peerRead) / double(shape.cardBytes())};
    }

    // Whether every frame of `card` is confirmed at its copy below `copy` (its own place there,
    // or its name alone when flattened).
    static void expectProvenAt(const tessaline::VerificationReport& report, const Shape& shape, const fs::path& copy,
                               bool flattened = false) {
        ASSERT_EQ(report.results.size(), size_t(shape.clips * shape.frames));
        EXPECT_EQ(report.confirmed().size(), report.results.size()) << report.summary().substr(0, 2000);
        EXPECT_TRUE(report.unreadCandidates.empty());
        for (const auto& result : report.results) {
            const fs::path& file = result.group.primaryFiles.front().url;
            const fs::path expected =
                copy / (flattened ? file.filename() : file.parent_path().filename() / file.filename());
            if (result.status != MatchStatus::confirmed(expected)) {
                ADD_FAILURE() << result.description();
                return;
            }
        }
    }

    std::string header_;
    const double shootDay_ = std::floor(double(std::time(nullptr)) / day) * day - 2 * day;
    testing::LoopVolumeSet loops;
};

}  // namespace

TEST_F(RestartingNamesEndToEndTest, ACardCopiedWholeBesideSixtyEarlierCardsOfItsNamesIsProvenWhereItWasLaidOut) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const Shape shape;
    const fs::path cards = loops.add("ext4", "RESTART_CARD", 64).mountPoint();
    const fs::path raid = loops.add("ext4", "RESTART_RAID", 256).mountPoint();
    const fs::path card = cards / "B001", longer = cards / "B001_LONGER";
    writeCard(card, shape, 0, std::nullopt);
    writeCard(longer, shape, 0, std::nullopt, false, 1);
    // Sixty earlier cards, each copied whole at 23:00 of its day; today's at 20:00.
    auto dayFolder = [&](int d) {
        char name[16];
        std::snprintf(name, sizeof name, "Day%02d", d);
        return raid / "Project" / name / "B_CAM/Card1";
    };
    for (int d = 1; d <= 60; ++d) writeCard(dayFolder(d), shape, d, shootDay_ - (61 - d) * day + 23 * hour);
    const fs::path today = dayFolder(61);
    writeCard(today, shape, 0, shootDay_ + 20 * hour);

    // Every frame proven at today's copy, reading little more than the card and that copy.
    auto [proven, provenRead] = scan(card, {raid});
    auto [peer, peerRead] = scan(longer, {raid});
    ASSERT_TRUE(proven && peer);
    expectProvenAt(*proven, shape, today);
    EXPECT_EQ(proven->eraseStanding().kind, tessaline::VerificationReport::EraseStanding::Kind::safe);
    EXPECT_EQ(peer->nameMismatches().size(), proven->results.size());
    const double ratio = double(provenRead - peerRead) / double(shape.cardBytes());
    EXPECT_GE(ratio, 1.9) << "the card and its copy are read";
    EXPECT_LE(ratio, 2.2);

    // The same with today's copy keeping the card's times, with today's folder first in
    // drive order, and with only today's folder granted.
    for (int k = 0; k < shape.clips * shape.frames; ++k) {
        const double shot = shootDay_ + 7 * hour + 10 * 60 + 12 * k;
        const fs::path frame = today / place(k / shape.frames + 1, k % shape.frames);
        const timeval times[2] = {{time_t(shot), 0}, {time_t(shot), 0}};
        ASSERT_EQ(::utimes(frame.c_str(), times), 0);
    }
    auto [kept, keptRead] = scan(card, {raid});
    ASSERT_TRUE(kept);
    expectProvenAt(*kept, shape, today);
    EXPECT_LE(double(keptRead - peerRead) / double(shape.cardBytes()), 2.2);

    const fs::path first = raid / "Project/A_Day61";
    fs::rename(raid / "Project/Day61", first);
    auto [sortedFirst, sortedFirstRead] = scan(card, {raid});
    ASSERT_TRUE(sortedFirst);
    expectProvenAt(*sortedFirst, shape, first / "B_CAM/Card1");

    auto [granted, grantedRead] = scan(card, {first});
    ASSERT_TRUE(granted);
    expectProvenAt(*granted, shape, first / "B_CAM/Card1");
}

TEST_F(RestartingNamesEndToEndTest, FlattenedFoldersRenamedDayFoldersAndTwoBackupsOnTwoDrivesAreProven) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const Shape shape{4, 12, 1 << 20};
    const fs::path cards = loops.add("ext4", "RESTART_CARD", 64).mountPoint();
    const fs::path raid = loops.add("ext4", "RESTART_RAID", 128).mountPoint();
    const fs::path shuttle = loops.add("ext4", "RESTART_SHUTTLE", 128).mountPoint();
    const fs::path card = cards / "B001", longer = cards / "B001_LONGER";
    writeCard(card, shape, 0, std::nullopt);
    writeCard(longer, shape, 0, std::nullopt, false, 1);

    // Flattened: every card's frames in one folder, plain copy times; today's in the middle
    // of drive order.
    for (int d = 1; d <= 20; ++d)
        writeCard(raid / "Flat" / ("Day" + std::to_string(100 + 2 * d)) / "CamB", shape, d,
                  shootDay_ - (21 - d) * day + 23 * hour, true);
    writeCard(raid / "Flat/Day121/CamB", shape, 0, shootDay_ + 20 * hour, true);
    auto [flat, flatRead] = provenReading(card, longer, shape, {raid / "Flat"});
    ASSERT_TRUE(flat);
    expectProvenAt(*flat, shape, raid / "Flat/Day121/CamB", true);
    EXPECT_LE(flatRead, 2.2);

    // Day folders renamed after the copy, named for the shoot's places (no order by date),
    // each card copied whole with the card's own times (earlier days' times are earlier).
    const std::vector<std::string> places{"Harbour", "Quarry", "Mill", "Bridge", "Orchard", "Yard", "Chapel", "Dunes"};
    for (size_t d = 0; d < places.size(); ++d) {
        const double shot = shootDay_ - double(places.size() - d) * day;
        writeCard(raid / "Renamed" / places[d] / "B", shape, int(d) + 1, shot + 7 * hour);
    }
    writeCard(raid / "Renamed/Cliffs/B", shape, 0, std::nullopt);
    auto [renamed, renamedRead] = provenReading(card, longer, shape, {raid / "Renamed"});
    ASSERT_TRUE(renamed);
    expectProvenAt(*renamed, shape, raid / "Renamed/Cliffs/B");
    EXPECT_LE(renamedRead, 2.2);

    // Two backups on two drives, each beside earlier cards: proven at the first drive's copy.
    for (int d = 1; d <= 10; ++d)
        writeCard(shuttle / "Cards" / ("Card" + std::to_string(d)), shape, d, shootDay_ - (11 - d) * day + 22 * hour);
    writeCard(shuttle / "Cards/Card11", shape, 0, shootDay_ + 21 * hour);
    auto [twice, twiceRead] = provenReading(card, longer, shape, {raid / "Renamed", shuttle / "Cards"});
    ASSERT_TRUE(twice);
    EXPECT_LE(twiceRead, 2.2);
    EXPECT_EQ(twice->confirmed().size() + twice->duplicates().size(), twice->results.size());
    EXPECT_TRUE(twice->missing().empty());
    EXPECT_TRUE(twice->unreadCandidates.empty());
    for (const auto& result : twice->results)
        for (const fs::path& at : result.status.locations()) {
            const std::string text = at.native();
            EXPECT_TRUE(text.starts_with((raid / "Renamed/Cliffs/B/").native()) ||
                        text.starts_with((shuttle / "Cards/Card11/").native()))
                << result.description();
        }
}

TEST_F(RestartingNamesEndToEndTest, AnOtherFileAmongFortySameNamedDecoysIsReadWithinTheBoundAndSaysWhy) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const fs::path card = loops.add("ext4", "RESTART_CARD", 64).mountPoint();
    const fs::path drive = loops.add("ext4", "RESTART_DRIVE", 128).mountPoint();
    constexpr int64_t dataSize = 4 << 20;
    // Two stills and a 4 MiB file that is no clip; the stills are on the drive.
    for (int k = 0; k < 2; ++k) {
        const fs::path still = card / "DCIM/100CAM" / ("IMG_000" + std::to_string(k) + ".JPG");
        tessaline::testing::makeJpeg(still, {"-DateTimeOriginal=2024:05:0" + std::to_string(k + 1) + " 10:00:00"});
        fs::create_directories(drive / "Stills");
        fs::copy_file(still, drive / "Stills" / still.filename());
    }
    writeFrame(card / "MISC/DATA.BIN", 1, dataSize, shootDay_ + 8 * hour);
    int64_t cardBytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(card))
        if (entry.is_regular_file()) cardBytes += int64_t(entry.file_size());
    // What the scan reads besides proving the other file: the same scan before the drive held
    // any file of its name.
    auto [baseline, baselineRead] = scan(card, {drive});
    ASSERT_TRUE(baseline);
    EXPECT_EQ(baseline->confirmed().size(), 2u);
    // Forty files of its name and size with other bytes, copied after it.
    for (int k = 0; k < 40; ++k)
        writeFrame(drive / "Old" / ("Card" + std::to_string(10 + k)) / "DATA.BIN", 1000 + uint64_t(k), dataSize,
                   shootDay_ + 9 * hour + k);

    auto [missing, missingRead] = scan(card, {drive});
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing->missing().empty());
    EXPECT_EQ(missing->eraseStanding().kind, tessaline::VerificationReport::EraseStanding::Kind::otherFilesOnlyOnCard);
    // Besides files, a scan reads the devices it judges (their file systems' identities, about
    // a megabyte each, once more for each prover of other files), and loop devices come and go
    // on a shared machine: no file's bytes.
    constexpr int64_t deviceProbe = 4 << 20;
    EXPECT_LE(missingRead - baselineRead, 4 * cardBytes + deviceProbe) << "the decoys were read past the bound";
    ASSERT_EQ(missing->unreadCandidates.size(), 1u);
    const auto& unread = missing->unreadCandidates.front();
    EXPECT_EQ(unread.cardFile, card / "MISC/DATA.BIN");
    EXPECT_EQ(unread.named, 40);
    EXPECT_GE(unread.namedNotRead, 37);
    const std::string reason = unread.reasonText();
    EXPECT_EQ(reason, "under its name: 40 files of its name and size, " + std::to_string(unread.namedNotRead) + " not read");
    const std::string summary = missing->summary();
    EXPECT_NE(summary.find("MISC/DATA.BIN"), std::string::npos) << summary;
    EXPECT_NE(summary.find(reason), std::string::npos) << summary;
    EXPECT_EQ(summary.find("not found under its name"), std::string::npos) << summary;
    const std::string csv = tessaline::ReportExporter::csv(*missing);
    EXPECT_NE(csv.find("NOT-READ,MISC/DATA.BIN,," + std::to_string(dataSize) + ",\"" + reason + "\"\n"), std::string::npos)
        << csv;
    const std::string json = tessaline::ReportExporter::json(*missing);
    EXPECT_NE(json.find("\"files_of_its_name_not_read\": " + std::to_string(unread.namedNotRead)), std::string::npos)
        << json;
    tessaline::ReportExporter::write(*missing, sandbox / "exports", "report");
    const std::string pdf = tessaline::testing::pdfText(sandbox / "exports/report.pdf");
    EXPECT_NE(pdf.find("40 files of its name and size"), std::string::npos) << pdf;

    // Its true copy last in drive order, in a folder named like the card's: proven there.
    fs::create_directories(drive / "Zcopy/MISC");
    fs::copy_file(card / "MISC/DATA.BIN", drive / "Zcopy/MISC/DATA.BIN");
    auto [found, foundRead] = scan(card, {drive});
    ASSERT_TRUE(found);
    EXPECT_EQ(found->eraseStanding().kind, tessaline::VerificationReport::EraseStanding::Kind::safe)
        << found->summary();
    ASSERT_EQ(found->otherFiles.size(), 1u);
    EXPECT_EQ(found->otherFiles.front().provenAt, drive / "Zcopy/MISC/DATA.BIN");
    EXPECT_TRUE(found->unreadCandidates.empty());
    EXPECT_LE(foundRead - baselineRead, 4 * cardBytes + deviceProbe);
}

}  // namespace brindlecove
