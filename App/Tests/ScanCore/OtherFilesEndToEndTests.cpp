// A card holding more than clips, end to end on loop-mounted ext4 and exFAT volumes: Sony
// XAVC clips with their numbered XML files, an AVCHD tree with its support files, a note and
// the junk computers leave. The real scan, report, rescue copy and erase gate must agree at
// every step that the card is safe only once every file the erase deletes is on the drive.
// Files the scanner passes over (hidden and junk-named folders, junk types) must be proven like
// any other, a card copied whole proves them, OS litter does not count (only files whose bytes
// are what their litter names say), no overlay and no disk image kept on the card mounted on a
// drive proves anything, and a file rewritten at the same size after the scan (or while it is
// read) is never vouched for by the gate, its count or the erase worker's last walk.

#include "GrantedDriveScan.hpp"
#include "ScanTestMedia.hpp"

#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"
#include "BrindlecoveApp/ViewModels/ScanRun.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/EraseFixtures.hpp"
#include "Support/LitterFiles.hpp"
#include "Support/LoopVolumeSet.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"
#include "Tessaline/Report/ReportExporter.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Volumes/ProofGround.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using testing::TestMedia;
using testing::placesOnlyOnCard;
using testing::writeDistinctMedia;
using tessaline::testing::readFile;
using tessaline::testing::writeFile;
using tessaline::testing::writeLitter;
using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;
using Standing = tessaline::VerificationReport::EraseStanding;
using Kind = VerificationStanding::Kind;

// The files the scanner passes over, none of them on a drive at first.
const std::vector<std::string> passedOver{"DCIM/100MEDIA/MISC/C0002.MP4", "DCIM/.pending/C0003.MP4",
                                          "Footage/THMBNL/A0004.MOV",     "Camera settings.ini",
                                          "Shot list.plist",              "DCIM/takes.db"};

// Rewrites a file in place with bytes of the same length, its modification time a minute on.
void rewriteSameSize(const fs::path& file) {
    std::string bytes = readFile(file);
    ASSERT_FALSE(bytes.empty());
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x5a);
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    std::fstream(file, std::ios::in | std::ios::out | std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    const struct timespec times[2] = {before.st_atim, {before.st_mtim.tv_sec + 60, before.st_mtim.tv_nsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// Makes folders below `parent` nested deeper than a path can name from the card root
// (PATH_MAX), with a file at the bottom: a walk from the root cannot open the deepest ones.
void nestBeyondPathLimit(const fs::path& parent) {
    const std::string name(250, 'd');
    int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (int level = 0; level < 20; ++level) {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    const int file = ::openat(fd, "take.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ::close(fd);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::write(file, "take", 4), 4);
    ::close(file);
}

// Reads the card's clips through the native reader, calling `during` once, before the first.
class ReaderWithHook : public tessaline::MetadataReader {
public:
    explicit ReaderWithHook(std::function<void()> during) : during_(std::move(during)) {}
    tessaline::Fingerprint fingerprint(const fs::path& url) override {
        std::call_once(once_, during_);
        return inner_.fingerprint(url);
    }

private:
    std::function<void()> during_;
    std::once_flag once_;
    tessaline::NativeMetadataReader inner_;
};

class OtherFilesEndToEndTest : public testing::AppSandboxedTest {
protected:
    fs::path grantsFile() const { return sandbox / "grants.json"; }

    // Nine XAVC clips (the first with its C0001M01.XML), one AVCHD clip with its support
    // files, a note, and junk.
    static void shoot(const fs::path& card) {
        for (int i = 1; i <= 9; ++i)
            writeDistinctMedia(TestMedia::video, card / ("PRIVATE/M4ROOT/CLIP/C000" + std::to_string(i) + ".MP4"), i);
        writeFile(card / "PRIVATE/M4ROOT/CLIP/C0001M01.XML", "<NonRealTimeMeta lastUpdate=\"2024-05-01\"/>");
        writeDistinctMedia(TestMedia::video, card / "PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", 10);
        writeFile(card / "PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", std::string(300, 'c'));
        writeFile(card / "PRIVATE/AVCHD/BDMV/PLAYLIST/00000.MPL", std::string(200, 'p'));
        writeFile(card / "PRIVATE/AVCHD/BDMV/INDEX.BDM", std::string(100, 'i'));
        writeFile(card / "NOTES.TXT", "Scene 4, take 2 is the keeper.");
        // Junk: nothing an erase must vouch for.
        writeLitter(card / "._C0001.MP4");
        writeLitter(card / ".DS_Store");
        writeFile(card / "System Volume Information/IndexerVolumeGuid", "guid");
    }

    // `during`, when given, runs once while the card's clips are read (after the scan recorded
    // the card's files, before it hashes any).
    ReportPtr scan(const fs::path& card, const std::string& label, std::function<void()> during = {}) const {
        std::function<std::shared_ptr<tessaline::MetadataReader>()> makeReader;
        if (during) makeReader = [during] { return std::make_shared<ReaderWithHook>(during); };
        return testing::scanAgainstGrantedDrive(card, label, grantsFile(), std::move(makeReader));
    }

    static std::vector<std::string> onlyOnCard(const tessaline::VerificationReport& report) {
        std::vector<std::string> names;
        for (const auto& file : report.otherFilesOnlyOnCard()) names.push_back(file.url.filename().string());
        return names;
    }

    using Setup = testing::CardAndDrive;
    Setup volumes(const std::string& fsType) { return testing::cardAndGrantedDrive(loops, fsType, grantsFile()); }

    // One clip, backed up on the drive.
    static void shootClip(const fs::path& card, const fs::path& driveRoot) {
        writeDistinctMedia(TestMedia::video, card / "PRIVATE/M4ROOT/CLIP/C0001.MP4", 1);
        testing::copyFile(card / "PRIVATE/M4ROOT/CLIP/C0001.MP4", driveRoot / "Shoot/C0001.MP4");
    }

    static void copyWhole(const fs::path& from, const fs::path& to) {
        const std::string command = "cp -a '" + from.string() + "/.' '" + to.string() + "'";
        fs::create_directories(to);
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    std::unique_ptr<CardPrepViewModel> eraser(const fs::path& card) const {
        auto vm = std::make_unique<CardPrepViewModel>(CardPrepViewModel::Dependencies{});
        vm->takeCard(qtPath(card));
        EXPECT_TRUE(waitFor([&] { return !vm->isBusy(); }, 30'000));
        return vm;
    }

    testing::LoopVolumeSet loops;
};

}  // namespace

TEST_F(OtherFilesEndToEndTest, TheCardIsSafeOnlyOnceEveryFileItHoldsIsOnTheDrive) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const fs::path card = loops.add(fsType, fsType == "exfat" ? "XAVC" : "AVCHD").mountPoint();
        const fs::path driveRoot = loops.add("ext4", "BACKUP_" + fsType).mountPoint();
        const fs::path destination = driveRoot / "Shoot";
        fs::create_directories(destination);
        tessaline::SecurityScopedBookmarkStore(grantsFile()).grant(driveRoot);
        const std::string label = tessaline::SecurityScopedBookmarkStore(grantsFile()).grantedVolumeLabels().back();
        shoot(card);

        CardPrepViewModel::Dependencies eraseDependencies;
        CardPrepViewModel gate(std::move(eraseDependencies));
        gate.takeCard(qtPath(card));
        ASSERT_TRUE(waitFor([&] { return !gate.isBusy(); }, 30'000));

        // 1. Nothing on the drive: every clip missing, the XML with its clip, and the four
        //    other files named.
        ReportPtr report = scan(card, label);
        ASSERT_TRUE(report);
        ASSERT_EQ(report->results.size(), 10u);
        EXPECT_EQ(report->missing().size(), 10u);
        const auto sony = std::find_if(report->results.begin(), report->results.end(),
                                       [](const auto& r) { return r.primaryName() == "C0001.MP4"; });
        ASSERT_NE(sony, report->results.end());
        EXPECT_EQ(sony->group.sidecars, std::vector<fs::path>{card / "PRIVATE/M4ROOT/CLIP/C0001M01.XML"});
        EXPECT_EQ(onlyOnCard(*report), (std::vector<std::string>{"NOTES.TXT", "00000.CPI", "INDEX.BDM", "00000.MPL"}));
        EXPECT_EQ(report->eraseStanding().kind, Standing::Kind::hasMissing);
        VerificationStanding standing = testing::verdictOf(gate, report);
        EXPECT_EQ(standing.kind, VerificationStanding::Kind::missing);
        EXPECT_EQ(standing.count, 10);
        EXPECT_EQ(standing.files, 4);
        EXPECT_EQ(EraseTexts::stopText(standing),
                  "STOP \u2014 your last scan found 10 clips and 4 other files that exist ONLY on this card (NOTES.TXT, "
                  "00000.CPI, INDEX.BDM and 1 more). Erasing now loses them. Copy or re-scan first.");

        // 2. The rescue copies the clips, the XML and the other files.
        MissingSyncViewModel::Dependencies rescueDependencies;
        rescueDependencies.dialogs.chooseFolder = [&](const FolderRequest&) { return std::optional(qtPath(destination)); };
        MissingSyncViewModel rescue(std::move(rescueDependencies));
        rescue.pickDestination();
        rescue.setPreserveStructure(true);
        EXPECT_EQ(ReportTexts::countsOf(*report).toRescue(), 14);
        rescue.start(*report);
        ASSERT_TRUE(waitFor([&] { return std::holds_alternative<MissingSyncViewModel::Done>(rescue.phase()); }, 60'000));
        const auto& log = std::get<MissingSyncViewModel::Done>(rescue.phase()).log;
        EXPECT_TRUE(log.allVerified());
        EXPECT_EQ(log.fileCount(), 15);  // 10 clips, 1 XML, 4 other files
        EXPECT_EQ(readFile(destination / "NOTES.TXT"), readFile(card / "NOTES.TXT"));

        // 3. A new scan: safe, and the gate agrees although junk lies beside the clips.
        report = scan(card, label);
        ASSERT_TRUE(report);
        EXPECT_EQ(report->eraseStanding(), (Standing{Standing::Kind::safe, 10, 10}));
        EXPECT_EQ(report->otherFiles.size(), 5u);  // the XML and the four others, all proven
        EXPECT_TRUE(testing::verdictOf(gate, report).isSafe());

        // 4. One other file gone from the drive: the clips are backed up, the card is not.
        fs::rename(destination / "NOTES.TXT", driveRoot / "NOTES.moved");
        report = scan(card, label);
        EXPECT_EQ(report->eraseStanding(), (Standing{Standing::Kind::otherFilesOnlyOnCard, 1, 10}));
        EXPECT_EQ(ReportTexts::banner(report->eraseStanding()).title,
                  "All 10 clips are backed up, but 1 other file is only on the card");
        standing = testing::verdictOf(gate, report);
        EXPECT_EQ(standing.kind, VerificationStanding::Kind::otherFilesOnlyOnCard);
        EXPECT_EQ(EraseTexts::stopText(standing),
                  "STOP \u2014 your last scan found 1 other file that exists ONLY on this card (NOTES.TXT). Erasing "
                  "now loses it. Copy or re-scan first.");
        // Elsewhere on the drive, under another folder, it proves again.
        fs::create_directories(driveRoot / "Notes");
        fs::rename(driveRoot / "NOTES.moved", driveRoot / "Notes/NOTES.TXT");
        report = scan(card, label);
        EXPECT_TRUE(report->isSafeToErase());

        // 5. A file written to the card after the scan: the gate no longer calls it safe, and
        //    the worker's walk just before erasing refuses too.
        writeFile(card / "PRIVATE/M4ROOT/CLIP/LASTCLIP.TXT", "C0009");
        gate.recount();
        // Every file the erase deletes, litter included; not the spared System Volume Information.
        ASSERT_TRUE(waitFor([&] { return gate.preview() && gate.preview()->fileCount == 18; }, 30'000));
        standing = testing::verdictOf(gate, report);
        EXPECT_EQ(standing.kind, VerificationStanding::Kind::changedSinceScan);
        EXPECT_EQ(EraseTexts::changedText(standing),
                  "CHANGED SINCE THE SCAN \u2014 this card has changed since your last scan: 1 file was added "
                  "(LASTCLIP.TXT). Scan it again before erasing.");
        fs::remove(card / "PRIVATE/M4ROOT/CLIP/LASTCLIP.TXT");
        gate.recount();
        ASSERT_TRUE(waitFor([&] { return gate.gate(report).isSafe(); }, 30'000));
        writeFile(card / "PRIVATE/AVCHD/BDMV/PLAYLIST/00001.MPL", "new playlist");
        gate.setConfirmationText(gate.cardName());
        ASSERT_TRUE(gate.runChecked(report));
        ASSERT_TRUE(waitFor([&] { return !gate.isBusy(); }, 30'000));
        ASSERT_TRUE(std::holds_alternative<CardPrepViewModel::Failed>(gate.phase()));
        EXPECT_EQ(std::get<CardPrepViewModel::Failed>(gate.phase()).message,
                  CardPrepViewModel::changedMessage(FileChanges{.added = {1, {"00001.MPL"}}}));
        EXPECT_TRUE(fs::exists(card / "NOTES.TXT"));

        // 6. Copied and scanned again, the card is erased; every file it held is on the drive.
        fs::copy_file(card / "PRIVATE/AVCHD/BDMV/PLAYLIST/00001.MPL", driveRoot / "Notes/00001.MPL");
        report = scan(card, label);
        ASSERT_TRUE(report->isSafeToErase());
        ASSERT_TRUE(waitFor([&] { return gate.gate(report).isSafe(); }, 30'000));
        gate.setConfirmationText(gate.cardName());
        ASSERT_TRUE(gate.runChecked(report));
        ASSERT_TRUE(waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(gate.phase()); }, 60'000));
        EXPECT_FALSE(fs::exists(card / "NOTES.TXT"));
        EXPECT_FALSE(fs::exists(card / "PRIVATE/M4ROOT/CLIP/C0001M01.XML"));
        EXPECT_EQ(readFile(destination / "PRIVATE/M4ROOT/CLIP/C0001M01.XML"),
                  "<NonRealTimeMeta lastUpdate=\"2024-05-01\"/>");
    }
}

TEST_F(OtherFilesEndToEndTest, FilesTheScannerPassesOverMustBeOnADriveAndACardCopiedWholeProvesThem) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const Setup setup = volumes(fsType);
        shootClip(setup.card, setup.driveRoot);
        for (size_t i = 0; i < passedOver.size(); ++i) {
            if (passedOver[i].ends_with(".MP4") || passedOver[i].ends_with(".MOV"))
                writeDistinctMedia(TestMedia::video, setup.card / passedOver[i], int(i) + 2);
            else
                writeFile(setup.card / passedOver[i], "settings " + std::to_string(i));
        }

        ReportPtr report = scan(setup.card, setup.label);
        ASSERT_TRUE(report);
        std::vector<std::string> expected = passedOver;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(placesOnlyOnCard(*report), expected);
        EXPECT_FALSE(report->isSafeToErase());
        ASSERT_TRUE(report->cardFiles);
        EXPECT_EQ(report->cardFiles->size(), 7u);

        auto vm = eraser(setup.card);
        const VerificationStanding standing = testing::verdictOf(*vm, report);
        EXPECT_EQ(standing.kind, Kind::otherFilesOnlyOnCard);
        EXPECT_EQ(standing.files, 6);
        vm->setConfirmationText(vm->cardName());
        EXPECT_FALSE(vm->runChecked(report));
        for (const auto& file : passedOver) EXPECT_TRUE(fs::exists(setup.card / file)) << file;

        // Copied whole, hidden and junk-named folders and all: every file proves.
        copyWhole(setup.card, setup.driveRoot / "Card copy");
        report = scan(setup.card, setup.label);
        ASSERT_TRUE(report);
        EXPECT_TRUE(placesOnlyOnCard(*report).empty());
        EXPECT_TRUE(report->isSafeToErase());
        EXPECT_TRUE(testing::verdictOf(*vm, report).isSafe());
    }
}

TEST_F(OtherFilesEndToEndTest, LitterCountsOnlyWhenItsBytesAreWhatItsNameSays) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const Setup setup = volumes(fsType);
        shootClip(setup.card, setup.driveRoot);
        // Litter as the systems write it, and system folders: nothing to prove.
        for (const char* litter : {".DS_Store", "PRIVATE/M4ROOT/CLIP/._C0001.MP4", "Thumbs.db", "desktop.ini"})
            writeLitter(setup.card / litter);
        for (const char* system : {".Trashes/x", ".Spotlight-V100/y"}) writeFile(setup.card / system, "system");
        ReportPtr report = scan(setup.card, setup.label);
        ASSERT_TRUE(report);
        EXPECT_TRUE(report->isSafeToErase());
        EXPECT_TRUE(report->otherFiles.empty());
        auto vm = eraser(setup.card);
        EXPECT_TRUE(testing::verdictOf(*vm, report).isSafe());

        // The same names over footage and notes, on no drive: the card is not safe, and each
        // is named.
        writeDistinctMedia(TestMedia::video, setup.card / "DCIM/100MEDIA/._C0002.MP4", 2);
        tessaline::testing::writePatternFile(setup.card / "Footage/Thumbs.db", 3 * 1024 * 1024);
        writeFile(setup.card / "Footage/desktop.ini", "Day 2: scene 4 take 2 is the keeper.\r\nCall sheet in the van.\r\n");
        report = scan(setup.card, setup.label);
        ASSERT_TRUE(report);
        EXPECT_FALSE(report->isSafeToErase());
        EXPECT_EQ(placesOnlyOnCard(*report),
                  (std::vector<std::string>{"DCIM/100MEDIA/._C0002.MP4", "Footage/Thumbs.db", "Footage/desktop.ini"}));
        const std::string summary = report->summary();
        for (const char* name : {"._C0002.MP4", "Thumbs.db", "desktop.ini"})
            EXPECT_NE(summary.find(name), std::string::npos) << name;
        vm->recount();
        // The clip, four litter files and the three; the erase spares the two system files.
        ASSERT_TRUE(waitFor([&] { return vm->preview() && vm->preview()->fileCount == 8; }, 30'000));
        const VerificationStanding standing = testing::verdictOf(*vm, report);
        EXPECT_EQ(standing.kind, Kind::otherFilesOnlyOnCard);
        EXPECT_EQ(standing.files, 3);

        // Copied to the drive, they prove like any other file.
        copyWhole(setup.card / "DCIM", setup.driveRoot / "Card copy/DCIM");
        copyWhole(setup.card / "Footage", setup.driveRoot / "Card copy/Footage");
        report = scan(setup.card, setup.label);
        ASSERT_TRUE(report);
        EXPECT_TRUE(placesOnlyOnCard(*report).empty());
        EXPECT_TRUE(report->isSafeToErase());
        EXPECT_TRUE(testing::verdictOf(*vm, report).isSafe());
    }
}

TEST_F(OtherFilesEndToEndTest, NoOverlayOnTheDriveProvesTheCardWhateverItsLayerNamesSayButACopyBesideItDoes) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const Setup setup = volumes("ext4");
    writeDistinctMedia(TestMedia::video, setup.card / "PRIVATE/M4ROOT/CLIP/C0001.MP4", 1);
    writeFile(setup.card / "PRIVATE/NOTES.TXT", "Scene 4, take 2 is the keeper.");
    fs::create_directories(setup.card / "MORE");
    tessaline::testing::TempFolder elsewhere;
    fs::create_directories(elsewhere / "empty");
    const std::string empty = (elsewhere / "empty").string();
    // Folders of the drive that show the card's files through overlays: the card named as it is,
    // ...
    tessaline::testing::ScopedMount direct(
        {"-t", "overlay", "overlay", "-o", "lowerdir=" + setup.card.string() + ":" + empty}, setup.driveRoot / "Direct");
    // ... through a bind mount of the card that is gone since (the table names a folder that is
    // empty now) ...
    tessaline::testing::ScopedMount bound({"--bind", setup.card.string()}, elsewhere / "bound");
    tessaline::testing::ScopedMount throughBind(
        {"-t", "overlay", "overlay", "-o", "lowerdir=" + bound.target().string() + ":" + empty},
        setup.driveRoot / "Bound");
    bound.unmount();
    // ... and by relative names given from inside the card (the table keeps them relative).
    const fs::path before = fs::current_path();
    fs::current_path(setup.card);
    std::optional<tessaline::testing::ScopedMount> relative;
    try {
        relative.emplace(std::vector<std::string>{"-t", "overlay", "overlay", "-o", "lowerdir=PRIVATE:MORE"},
                         setup.driveRoot / "Relative");
    } catch (...) {
        fs::current_path(before);
        throw;
    }
    fs::current_path(before);
    const std::vector<fs::path> views{direct.target(), throughBind.target(), relative->target()};
    ASSERT_TRUE(fs::exists(throughBind.target() / "PRIVATE/NOTES.TXT"));
    ASSERT_TRUE(fs::exists(relative->target() / "NOTES.TXT"));

    ReportPtr report = scan(setup.card, setup.label);
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->isSafeToErase());
    EXPECT_EQ(report->missing().size(), 1u);
    EXPECT_EQ(onlyOnCard(*report), std::vector<std::string>{"NOTES.TXT"});
    // Each view's copies are named as not counted, with the reason.
    for (const fs::path& view : views) {
        SCOPED_TRACE(view.string());
        EXPECT_TRUE(std::any_of(report->uncountedCopies.begin(), report->uncountedCopies.end(), [&](const auto& copy) {
            return tessaline::isSameOrBelow(copy.path, view) && copy.doubt == tessaline::ProofGround::Doubt::overlay &&
                   copy.path.filename() == "C0001.MP4";
        }));
    }
    const QStringList lines = ReportTexts::uncountedLines(*report);
    ASSERT_EQ(lines.size(), static_cast<qsizetype>(report->uncountedCopies.size()));
    EXPECT_EQ(lines.front(), QStringLiteral("On an overlay: ") + qtPath(report->uncountedCopies.front().path));
    EXPECT_NE(report->summary().find("not counted  " + (direct.target() / "PRIVATE/NOTES.TXT").string()), std::string::npos);

    auto vm = eraser(setup.card);
    EXPECT_FALSE(testing::verdictOf(*vm, report).isSafe());
    vm->setConfirmationText(vm->cardName());
    EXPECT_FALSE(vm->runChecked(report));
    EXPECT_TRUE(fs::exists(setup.card / "PRIVATE/NOTES.TXT"));
    EXPECT_TRUE(fs::exists(setup.card / "PRIVATE/M4ROOT/CLIP/C0001.MP4"));
    // A report that took a view for proof: the gate's own check of where the proofs lie does
    // not call it safe either.
    for (const fs::path& view : {direct.target() / "PRIVATE", relative->target()}) {
        SCOPED_TRACE(view.string());
        std::vector<tessaline::MatchResult> results = report->results;
        ASSERT_EQ(results.size(), 1u);
        results[0].status = tessaline::MatchStatus::confirmed(view / "M4ROOT/CLIP/C0001.MP4");
        std::vector<tessaline::OtherFile> others = report->otherFiles;
        for (auto& other : others) other.provenAt = view / other.url.filename();
        const auto forged = std::make_shared<const tessaline::VerificationReport>(
            setup.card, report->drivePaths, report->generatedAt, std::move(results), std::nullopt,
            std::vector<fs::path>{}, std::move(others), report->cardFiles);
        ASSERT_TRUE(forged->isSafeToErase());
        EXPECT_EQ(testing::verdictOf(*vm, forged).kind, Kind::missing);
    }

    // A real copy on the same drive, next to the overlays, proves the card.
    copyWhole(setup.card, setup.driveRoot / "Copy");
    report = scan(setup.card, setup.label);
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->isSafeToErase());
    for (const auto& result : report->results)
        for (const auto& location : result.status.locations())
            EXPECT_TRUE(tessaline::isSameOrBelow(location, setup.driveRoot / "Copy")) << location;
    for (const auto& other : report->otherFiles) {
        ASSERT_TRUE(other.provenAt);
        EXPECT_TRUE(tessaline::isSameOrBelow(*other.provenAt, setup.driveRoot / "Copy")) << *other.provenAt;
    }
    EXPECT_TRUE(testing::verdictOf(*vm, report).isSafe());
}

TEST_F(OtherFilesEndToEndTest, ADiskImageKeptOnTheCardAndMountedUnderTheDriveProvesNothing) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const Setup setup = volumes("ext4");
    shootClip(setup.card, setup.driveRoot);
    fs::remove_all(setup.driveRoot / "Shoot");
    // A spared folder of the card, which the erase neither proves nor deletes, holds an image
    // of a volume; that volume, mounted under the drive, holds a copy of the clip.
    fs::create_directories(setup.card / ".Trashes");
    tessaline::testing::LoopVolume image("ext4", 16, "IMAGE", true, setup.card / ".Trashes/backup.img");
    tessaline::testing::ScopedMount underDrive({image.device()}, setup.driveRoot / "Image");
    testing::copyFile(setup.card / "PRIVATE/M4ROOT/CLIP/C0001.MP4", underDrive.target() / "C0001.MP4");

    ReportPtr report = scan(setup.card, setup.label);
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->isSafeToErase());
    EXPECT_EQ(report->missing().size(), 1u);
    ASSERT_EQ(report->uncountedCopies.size(), 1u);
    EXPECT_EQ(report->uncountedCopies[0].path, underDrive.target() / "C0001.MP4");
    EXPECT_EQ(report->uncountedCopies[0].doubt, tessaline::ProofGround::Doubt::imageOnCard);
    EXPECT_NE(tessaline::ReportExporter::json(*report).find("\"reason\": \"image_on_card\""), std::string::npos);
    EXPECT_NE(report->summary().find("inside a disk image stored on the card"), std::string::npos);
    EXPECT_TRUE(ReportTexts::uncountedHeading(*report).startsWith(QStringLiteral("Not counted as backups: 1 drive file")));
    EXPECT_EQ(ReportTexts::uncountedLines(*report),
              QStringList{QStringLiteral("In a disk image on the card: ") + qtPath(underDrive.target() / "C0001.MP4")});

    auto vm = eraser(setup.card);
    EXPECT_FALSE(testing::verdictOf(*vm, report).isSafe());
    vm->setConfirmationText(vm->cardName());
    EXPECT_FALSE(vm->runChecked(report));
    EXPECT_TRUE(fs::exists(setup.card / "PRIVATE/M4ROOT/CLIP/C0001.MP4"));
    // Taken for proof all the same, the gate's own check does not call it safe.
    std::vector<tessaline::MatchResult> results = report->results;
    results[0].status = tessaline::MatchStatus::confirmed(underDrive.target() / "C0001.MP4");
    const auto forged = std::make_shared<const tessaline::VerificationReport>(
        setup.card, report->drivePaths, report->generatedAt, std::move(results), std::nullopt, std::vector<fs::path>{},
        report->otherFiles, report->cardFiles);
    ASSERT_TRUE(forged->isSafeToErase());
    EXPECT_EQ(testing::verdictOf(*vm, forged).kind, Kind::missing);
    // The image's volume granted as a drive of its own is walked, and its copy named as not
    // counted for lying on the card.
    underDrive.unmount();
    tessaline::SecurityScopedBookmarkStore(grantsFile()).grant(image.mountPoint());
    const std::string imageLabel = tessaline::SecurityScopedBookmarkStore(grantsFile()).grantedVolumeLabels().back();
    report = scan(setup.card, imageLabel);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->drivePaths, std::vector<fs::path>{image.mountPoint()});
    EXPECT_FALSE(report->isSafeToErase());
    ASSERT_EQ(report->uncountedCopies.size(), 1u);
    EXPECT_EQ(report->uncountedCopies[0].path, image.mountPoint() / "C0001.MP4");
    EXPECT_EQ(report->uncountedCopies[0].doubt, tessaline::ProofGround::Doubt::imageOnCard);

    // A real copy on the drive proves the card, and the gate keeps trusting that proof once the
    // copy is gone: a drive unplugged after the scan is not taken for one on the card.
    testing::copyFile(setup.card / "PRIVATE/M4ROOT/CLIP/C0001.MP4", setup.driveRoot / "Shoot/C0001.MP4");
    report = scan(setup.card, setup.label);
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->isSafeToErase());
    EXPECT_TRUE(report->uncountedCopies.empty());
    fs::remove(setup.driveRoot / "Shoot/C0001.MP4");
    EXPECT_TRUE(testing::verdictOf(*vm, report).isSafe());
}

TEST_F(OtherFilesEndToEndTest, AFileRewrittenAtTheSameSizeAfterTheScanIsNeverErased) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        for (const std::string changed : {"PRIVATE/M4ROOT/CLIP/C0001.MP4", "NOTES.TXT"}) {
            SCOPED_TRACE(fsType + " " + changed);
            const Setup setup = volumes(fsType);
            shootClip(setup.card, setup.driveRoot);
            writeFile(setup.card / "NOTES.TXT", "Scene 4, take 2 is the keeper.");
            writeFile(setup.driveRoot / "Shoot/NOTES.TXT", "Scene 4, take 2 is the keeper.");
            const ReportPtr report = scan(setup.card, setup.label);
            ASSERT_TRUE(report && report->isSafeToErase());

            // The gate's count taken before the change: safe until it counts again.
            auto vm = eraser(setup.card);
            ASSERT_TRUE(testing::verdictOf(*vm, report).isSafe());
            const std::string before = readFile(setup.card / changed);
            rewriteSameSize(setup.card / changed);
            ASSERT_EQ(fs::file_size(setup.card / changed), before.size());

            // The worker's walk just before deleting refuses and names the file.
            CardPrepViewModel stale(CardPrepViewModel::Dependencies{});
            stale.takeCard(qtPath(setup.card));
            vm->setConfirmationText(vm->cardName());
            ASSERT_TRUE(vm->runChecked(report)) << "the count was taken before the change";
            ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }, 30'000));
            ASSERT_TRUE(std::holds_alternative<CardPrepViewModel::Failed>(vm->phase()));
            EXPECT_EQ(std::get<CardPrepViewModel::Failed>(vm->phase()).message, CardPrepViewModel::changedMessage(FileChanges{.changed = {1, {fs::path(changed).filename().string()}}}));
            EXPECT_NE(readFile(setup.card / changed), before);
            EXPECT_TRUE(fs::exists(setup.card / "PRIVATE/M4ROOT/CLIP/C0001.MP4"));
            EXPECT_TRUE(fs::exists(setup.card / "NOTES.TXT"));

            // Counted again, the gate names it; also after an eject and re-insert.
            ASSERT_TRUE(waitFor([&] { return !stale.isBusy(); }, 30'000));
            VerificationStanding standing = testing::verdictOf(stale, report);
            EXPECT_EQ(standing.kind, Kind::changedSinceScan);
            EXPECT_EQ(standing.fileNames, std::vector<std::string>{fs::path(changed).filename().string()});
        }
    }
}

TEST_F(OtherFilesEndToEndTest, AFileChangedBetweenItsRecordAndItsHashIsNotProven) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const Setup setup = volumes("ext4");
    shootClip(setup.card, setup.driveRoot);
    writeFile(setup.card / "NOTES.TXT", "Scene 4, take 2 is the keeper.");
    writeFile(setup.driveRoot / "Shoot/NOTES.TXT", "Scene 4, take 2 is the keeper.");
    // While the clips are read (after the record, before any hash), the note is rewritten at
    // its size on the card and on the drive alike: the bytes agree, the record does not.
    const ReportPtr report = scan(setup.card, setup.label, [&] {
        rewriteSameSize(setup.card / "NOTES.TXT");
        testing::copyFile(setup.card / "NOTES.TXT", setup.driveRoot / "Shoot/NOTES.TXT");
    });
    ASSERT_TRUE(report);
    EXPECT_EQ(placesOnlyOnCard(*report), std::vector<std::string>{"NOTES.TXT"});
    EXPECT_FALSE(report->isSafeToErase());
    EXPECT_EQ(report->confirmed().size(), 1u) << "the clip itself did not change";
}

TEST_F(OtherFilesEndToEndTest, AFolderTheCountCannotReadAfterTheScanIsNeverCalledSafe) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const Setup setup = volumes("ext4");
    shootClip(setup.card, setup.driveRoot);
    const ReportPtr report = scan(setup.card, setup.label);
    ASSERT_TRUE(report && report->isSafeToErase());
    auto vm = eraser(setup.card);
    ASSERT_TRUE(testing::verdictOf(*vm, report).isSafe());

    // Written after the scan, too deep for any walk from the card root to reach.
    nestBeyondPathLimit(setup.card / "PRIVATE");
    vm->recount();
    ASSERT_TRUE(waitFor([&] { return vm->preview() && vm->preview()->fileCount == 1 && !vm->isBusy(); }, 30'000))
        << "the deepest file is out of the count's reach";
    // The verdict comes once the count is in (the gate says it is checking meanwhile).
    EXPECT_TRUE(waitFor([&] { return vm->gate(report).kind == Kind::changedSinceScan; }, 5'000))
        << int(testing::verdictOf(*vm, report).kind);
    vm->setConfirmationText(vm->cardName());
    EXPECT_FALSE(vm->runChecked(report));
    EXPECT_TRUE(fs::exists(setup.card / "PRIVATE/M4ROOT/CLIP/C0001.MP4"));
}

TEST_F(OtherFilesEndToEndTest, AReportAnEraseWasStartedOnNeverVouchesForTheCardAgain) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const Setup setup = volumes(fsType);
        shootClip(setup.card, setup.driveRoot);
        writeFile(setup.card / "NOTES.TXT", "Scene 4, take 2 is the keeper.");
        copyWhole(setup.card, setup.driveRoot / "Card copy");
        const ReportPtr report = scan(setup.card, setup.label);
        ASSERT_TRUE(report && report->isSafeToErase());
        auto vm = eraser(setup.card);
        ASSERT_TRUE(testing::verdictOf(*vm, report).isSafe());
        vm->setConfirmationText(vm->cardName());
        ASSERT_TRUE(vm->runChecked(report));
        ASSERT_TRUE(waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(vm->phase()); }, 30'000));

        // The files put back as they were (times and all), the card picked again: the old
        // report still does not call it safe.
        copyWhole(setup.driveRoot / "Card copy", setup.card);
        vm->takeCard(qtPath(setup.card));
        ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }, 30'000));
        ASSERT_EQ(vm->preview()->fileCount, 2);
        // Put back exactly as recorded (where the file system keeps no change time), they cannot
        // be told from files the erase left: either way the card must be scanned again.
        const auto kind = testing::verdictOf(*vm, report).kind;
        EXPECT_TRUE(kind == Kind::changedSinceScan || kind == Kind::erasedSinceScan);
        vm->setConfirmationText(vm->cardName());
        EXPECT_FALSE(vm->runChecked(report));
        EXPECT_TRUE(fs::exists(setup.card / "NOTES.TXT"));
    }
}

}  // namespace brindlecove
