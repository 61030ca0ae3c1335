// A transfer calls the card safe to reuse only when every file an erase of it would delete is
// then proven, on loop-mounted ext4 and exFAT cards: a rescue that leaves a file of its scan
// unproven, a card written to during its copy, and a copy stored under a name a scan does not
// count make no safe claim anywhere (screens through their view models, the text summary, the
// PDF, CSV and JSON) and name the files; complete copies and rescues still say safe. A scan of
// the card against the destination right after always agrees with the copy.

#include "Copy/FaultyCopyIO.hpp"
#include "CopySectionRun.hpp"
#include "GrantedDriveScan.hpp"
#include "ScanTestMedia.hpp"

#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/LatestTransfer.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"
#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/LoopVolumeSet.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"
#include "Tessaline/Transfer/TransferLogExporter.hpp"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <fcntl.h>

#include <fstream>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using testing::TestMedia;
using testing::writeDistinctMedia;
using tessaline::CopyEngine;
using tessaline::TransferLog;
using tessaline::testing::pdfText;
using tessaline::testing::writeFile;
using ReportPtr = std::shared_ptr<const tessaline::VerificationReport>;

class TransferVerdictEndToEndTest : public testing::AppSandboxedTest {
protected:
    fs::path grantsFile() const { return sandbox / "grants.json"; }

    std::string grant(const fs::path& driveRoot) const {
        tessaline::SecurityScopedBookmarkStore(grantsFile()).grant(driveRoot);
        return tessaline::SecurityScopedBookmarkStore(grantsFile()).grantedVolumeLabels().back();
    }

    ReportPtr scan(const fs::path& card, const std::string& label) const {
        return testing::scanAgainstGrantedDrive(card, label, grantsFile());
    }

    // The Copy section's run, its verdict kept for the test.
    std::shared_ptr<const TransferLog> copy(const fs::path& card, const fs::path& destination,
                                            std::function<void(const CopyEngine::Event&)> onEvent = {}) {
        auto run = testing::copyThroughCopySection(card, destination, std::move(onEvent));
        verdict = run.verdict;
        return run.log;
    }

    testing::CardAndDrive cardAndDrive(const std::string& fsType) {
        return testing::cardAndGrantedDrive(loops, fsType, grantsFile(), 128);
    }

    // The Report section's rescue of `report`'s missing files into `destination`, to its end.
    std::shared_ptr<const TransferLog> rescue(const tessaline::VerificationReport& report,
                                              const fs::path& destination,
                                              std::shared_ptr<tessaline::CopyFileIO> io = nullptr) {
        MissingSyncViewModel::Dependencies dependencies;
        dependencies.copyIO = std::move(io);
        dependencies.dialogs.chooseFolder = [destination](const FolderRequest&) {
            return std::optional<QString>(qpath(destination));
        };
        dependencies.bookmarkStoreURL = sandbox / "rescue-grants.json";
        MissingSyncViewModel model(std::move(dependencies));
        CopyViewModel copies{CopyViewModel::Dependencies{}};
        LatestTransfer latest(&copies, &model);
        model.pickDestination();
        model.start(report);
        EXPECT_TRUE(
            waitFor([&] { return std::holds_alternative<MissingSyncViewModel::Done>(model.phase()); }, 120'000));
        const auto& done = std::get<MissingSyncViewModel::Done>(model.phase());
        const auto outcome = ReportTexts::outcome(done.log, model.wasStopped(), done.goneFromCard);
        rescueOutcome = outcome.text;
        rescueTone = outcome.tone;
        EXPECT_EQ(latest.lastLog(), model.lastLog());  // what the Production Log shows
        return latest.lastLog();
    }

    // Every form of the log's verdict as one text, and whether any of them claims safety.
    struct Forms {
        QString banner, copyVerdict;
        std::string summary, pdf, csv;
        nlohmann::json json;
    };
    Forms formsOf(const TransferLog& log, const std::string& name) {
        Forms forms;
        const auto banner = TransferTexts::banner(log);
        forms.banner = banner.title + " " + banner.subtitle;
        forms.summary = log.summary();
        const fs::path file = sandbox / (name + ".pdf");
        const std::string bytes = tessaline::TransferLogExporter::pdf(log);
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        forms.pdf = pdfText(file);
        forms.csv = tessaline::TransferLogExporter::csv(log);
        forms.json = nlohmann::json::parse(tessaline::TransferLogExporter::json(log));
        return forms;
    }

    // The PDF's green verdict: "✓ All 3 files …", "✓ The 1 file …" (rows say "✓ verified").
    static bool pdfSaysSafe(const std::string& pdf) {
        return pdf.find("✓ All ") != std::string::npos || pdf.find("✓ The 1 file") != std::string::npos;
    }

    // No safe claim in any form; each of `named` (card paths) is named in every one.
    void expectNotSafe(const TransferLog& log, const std::string& name, const std::vector<std::string>& named) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(log.allVerified());
        EXPECT_NE(log.standing().kind, TransferLog::TransferStanding::Kind::verified);
        const Forms forms = formsOf(log, name);
        EXPECT_FALSE(forms.banner.contains(QStringLiteral("Safe to reuse"))) << forms.banner.toStdString();
        EXPECT_NE(TransferTexts::banner(log).tone, TransferTexts::Tone::good);
        EXPECT_EQ(forms.summary.find("Safe to reuse"), std::string::npos) << forms.summary;
        EXPECT_EQ(forms.summary.find("✓"), std::string::npos) << forms.summary;
        EXPECT_NE(forms.summary.find("do NOT wipe the card"), std::string::npos) << forms.summary;
        EXPECT_FALSE(pdfSaysSafe(forms.pdf)) << forms.pdf;
        EXPECT_NE(forms.pdf.find("do not wipe the card"), std::string::npos) << forms.pdf;
        EXPECT_FALSE(forms.json["summary"]["all_verified"].get<bool>());
        EXPECT_GE(forms.json["summary"]["card_files_not_proven"].get<int>(), 1);
        for (const std::string& path : named) {
            EXPECT_TRUE(forms.banner.contains(QString::fromStdString(path)))
                << path << ": " << forms.banner.toStdString();
            EXPECT_NE(forms.summary.find(path), std::string::npos) << path;
            EXPECT_NE(forms.pdf.find(path), std::string::npos) << path;
            EXPECT_NE(forms.csv.find("," + path + ","), std::string::npos) << path << ": " << forms.csv;
            bool inJson = false;
            for (const auto& note : forms.json["card_files"]) inJson |= note["relative_path"] == path;
            EXPECT_TRUE(inJson) << path;
        }
    }

    void expectSafe(const TransferLog& log, const std::string& name) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(log.allVerified()) << log.summary();
        const Forms forms = formsOf(log, name);
        EXPECT_TRUE(TransferTexts::banner(log).subtitle.startsWith(QStringLiteral("Safe to reuse the card")));
        EXPECT_NE(forms.summary.find(" copied and verified byte-for-byte. Safe to reuse the card."), std::string::npos)
            << forms.summary;
        EXPECT_TRUE(pdfSaysSafe(forms.pdf)) << forms.pdf;
        EXPECT_TRUE(forms.json["summary"]["all_verified"].get<bool>());
    }

    TransferTexts::Verdict verdict;
    QString rescueOutcome;
    ReportTexts::Tone rescueTone = ReportTexts::Tone::neutral;
    testing::LoopVolumeSet loops;
};

// A clip with its sidecar and a note beside it.
void shoot(const fs::path& card) {
    writeDistinctMedia(TestMedia::video, card / "PRIVATE/M4ROOT/CLIP/C0001.MP4", 1);
    writeFile(card / "PRIVATE/M4ROOT/CLIP/C0001M01.XML", "<NonRealTimeMeta lastUpdate=\"2024-05-01\"/>");
    writeFile(card / "NOTES/day1.txt", "Scene 4, take 2 is the keeper.");
}

}  // namespace

TEST_F(TransferVerdictEndToEndTest, FilesWrittenToTheCardDuringTheCopyKeepItUnsafeUntilCopiedAgain) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const auto [card, driveRoot, label] = cardAndDrive(fsType);
        shoot(card);

        // Once the sidecar's copy is proven, the camera writes: a new clip, a hidden file,
        // and the sidecar again at another size.
        bool written = false;
        auto log = copy(card, driveRoot / "Late", [&](const CopyEngine::Event& event) {
            const auto* finished = std::get_if<CopyEngine::FileFinishedEvent>(&event);
            if (written || !finished || finished->outcome.relativePath != "PRIVATE/M4ROOT/CLIP/C0001M01.XML") return;
            written = true;
            writeDistinctMedia(TestMedia::video, card / "DCIM/100MEDIA/C0002.MP4", 2);
            writeFile(card / ".hidden/late.txt", "late");
            writeFile(card / "PRIVATE/M4ROOT/CLIP/C0001M01.XML", "<NonRealTimeMeta lastUpdate=\"2024-05-02\"/> ");
        });
        ASSERT_TRUE(written && log);
        EXPECT_EQ(log->failedCount(), 0);
        const std::vector<std::string> changed{".hidden/late.txt", "DCIM/100MEDIA/C0002.MP4",
                                               "PRIVATE/M4ROOT/CLIP/C0001M01.XML"};
        std::vector<std::string> noted;
        for (const auto& note : log->cardFileNotes) {
            EXPECT_EQ(note.kind, tessaline::CardFileNote::Kind::changedOnCard) << note.relativePath;
            // The sidecar was copied, then rewritten; the other two were written after it.
            EXPECT_EQ(note.reason, note.relativePath == "PRIVATE/M4ROOT/CLIP/C0001M01.XML"
                                       ? "changed on the card during the copy — copy again"
                                       : "added to the card during the copy — copy again")
                << note.relativePath;
            noted.push_back(note.relativePath);
        }
        EXPECT_EQ(noted, changed);
        expectNotSafe(*log, "late-" + fsType, changed);
        EXPECT_NE(verdict.tone, TransferTexts::Tone::good);
        EXPECT_TRUE(verdict.text.contains(QStringLiteral("C0002.MP4"))) << verdict.text.toStdString();
        ReportPtr report = scan(card, label);
        ASSERT_TRUE(report);
        EXPECT_FALSE(report->isSafeToErase());

        // Copied again with nothing changing: safe, and the scan agrees.
        log = copy(card, driveRoot / "Again");
        ASSERT_TRUE(log);
        expectSafe(*log, "again-" + fsType);
        EXPECT_EQ(verdict.tone, TransferTexts::Tone::good);
        report = scan(card, label);
        ASSERT_TRUE(report);
        EXPECT_TRUE(report->isSafeToErase()) << testing::placesOnlyOnCard(*report).size();
    }
}

TEST_F(TransferVerdictEndToEndTest, ACopyStoredUnderANameAScanDoesNotCountIsNotSafeAndSaysHowToGetThere) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const fs::path exfatDrive = loops.add("exfat", "BKEXFAT", 128).mountPoint();
    const std::string exfatLabel = grant(exfatDrive);
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const auto [card, driveRoot, label] = cardAndDrive(fsType);
        shoot(card);
        writeFile(card / "PRIVATE/M4ROOT/MEDIAPRO.XML", "<MediaProfile card=\"" + fsType + "\"/>");

        // The folder already holds another card's MEDIAPRO.XML, and another clip named C0001.MP4.
        const fs::path shared = driveRoot / "Shoot";
        writeFile(shared / "PRIVATE/M4ROOT/MEDIAPRO.XML", "<MediaProfile card=\"other\"/>");
        writeDistinctMedia(TestMedia::video, shared / "PRIVATE/M4ROOT/CLIP/C0001.MP4", 9);
        auto log = copy(card, shared);
        ASSERT_TRUE(log);
        EXPECT_EQ(log->failedCount(), 0);
        expectNotSafe(*log, "shared-" + fsType, {"PRIVATE/M4ROOT/MEDIAPRO.XML"});
        EXPECT_NE(log->summary().find("stored as PRIVATE/M4ROOT/MEDIAPRO_1.XML"), std::string::npos) << log->summary();
        EXPECT_NE(log->summary().find("copy into an empty folder"), std::string::npos);
        // The clip stored as C0001_1.MP4 is named, but a scan finds it under any name.
        EXPECT_NE(log->summary().find(
                      "PRIVATE/M4ROOT/CLIP/C0001.MP4  — stored as PRIVATE/M4ROOT/CLIP/C0001_1.MP4, as its name"),
                  std::string::npos);
        ReportPtr report = scan(card, label);
        ASSERT_TRUE(report);
        EXPECT_FALSE(report->isSafeToErase());
        EXPECT_EQ(testing::placesOnlyOnCard(*report), std::vector<std::string>{"PRIVATE/M4ROOT/MEDIAPRO.XML"});

        // Into an empty folder: safe, and the scan agrees.
        log = copy(card, driveRoot / "Empty");
        ASSERT_TRUE(log);
        expectSafe(*log, "empty-" + fsType);
        report = scan(card, label);
        ASSERT_TRUE(report);
        EXPECT_TRUE(report->isSafeToErase());
    }

    // An ext4 card holding Take.txt and take.txt, copied to an exFAT drive, which keeps one
    // name of the two: take.txt lands as take_1.txt.
    const fs::path card = loops.add("ext4", "CARD_CASES").mountPoint();
    writeFile(card / "MISC/Take.txt", "Take one.");
    writeFile(card / "MISC/take.txt", "take two, lower case");
    auto log = copy(card, exfatDrive / "Cases");
    ASSERT_TRUE(log);
    EXPECT_EQ(log->failedCount(), 0);
    expectNotSafe(*log, "cases", {"MISC/take.txt"});
    EXPECT_NE(log->summary().find("stored as MISC/take_1.txt"), std::string::npos) << log->summary();
    ReportPtr report = scan(card, exfatLabel);
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->isSafeToErase());
    EXPECT_EQ(testing::placesOnlyOnCard(*report), std::vector<std::string>{"MISC/take.txt"});
}

TEST_F(TransferVerdictEndToEndTest, ARescueThatLeavesAFileOfItsScanUnprovenSaysSoAndACompleteOneSaysSafe) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const auto [card, driveRoot, label] = cardAndDrive(fsType);
        // C0010 is only on the card; the drive's C0011.MP4 is another clip of that name.
        writeDistinctMedia(TestMedia::video, card / "DCIM/100MEDIA/C0010.MP4", 1);
        writeDistinctMedia(TestMedia::video, card / "DCIM/100MEDIA/C0011.MP4", 2);
        writeDistinctMedia(TestMedia::video, driveRoot / "Shoot/C0011.MP4", 3);
        ReportPtr report = scan(card, label);
        ASSERT_TRUE(report);
        ASSERT_EQ(report->missing().size(), 1u);
        ASSERT_EQ(report->nameMismatches().size(), 1u);

        auto log = rescue(*report, driveRoot / "Shoot");
        ASSERT_TRUE(log);
        EXPECT_EQ(log->fileCount(), 1);
        EXPECT_EQ(log->verifiedCount(), 1);
        expectNotSafe(*log, "rescue-" + fsType, {"DCIM/100MEDIA/C0011.MP4"});
        EXPECT_NE(log->summary().find("The card still holds 1 file found nowhere else"), std::string::npos)
            << log->summary();
        EXPECT_NE(log->summary().find("Name matches C0011.MP4 but contents differ"), std::string::npos);
        EXPECT_EQ(rescueTone, ReportTexts::Tone::bad);
        EXPECT_TRUE(rescueOutcome.contains(QStringLiteral("Copied and verified 1 missing file.")))
            << rescueOutcome.toStdString();
        EXPECT_TRUE(rescueOutcome.contains(QStringLiteral("DCIM/100MEDIA/C0011.MP4")));
        report = scan(card, label);
        ASSERT_TRUE(report);
        EXPECT_FALSE(report->isSafeToErase());

        // The mismatched clip rescued too (the drive's other clip moved away): safe, as the scan.
        fs::rename(driveRoot / "Shoot/C0011.MP4", driveRoot / "Shoot/Other C0011.MP4");
        report = scan(card, label);
        ASSERT_TRUE(report);
        ASSERT_EQ(report->missing().size(), 1u);
        ASSERT_TRUE(report->nameMismatches().empty());
        log = rescue(*report, driveRoot / "Shoot");
        ASSERT_TRUE(log);
        expectSafe(*log, "rescued-all-" + fsType);
        EXPECT_EQ(rescueTone, ReportTexts::Tone::good);
        report = scan(card, label);
        ASSERT_TRUE(report);
        EXPECT_TRUE(report->isSafeToErase());
    }
}

// A rescued clip rewritten on the card after its copy was proven, while the next clip is
// still being proven: the rescue's closing look names it and the card is not called safe.
TEST_F(TransferVerdictEndToEndTest, ARescuedFileRewrittenAfterItsProofKeepsTheCardUnsafe) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    for (const std::string fsType : {"exfat", "ext4"}) {
        SCOPED_TRACE(fsType);
        const auto [card, driveRoot, label] = cardAndDrive(fsType);
        writeDistinctMedia(TestMedia::video, card / "DCIM/100MEDIA/C0010.MP4", 1);
        writeDistinctMedia(TestMedia::video, card / "DCIM/100MEDIA/C0011.MP4", 2);
        ReportPtr report = scan(card, label);
        ASSERT_TRUE(report);
        ASSERT_EQ(report->missing().size(), 2u);

        fs::create_directories(driveRoot / "Rescue");
        // C0011's read-back opens its copy once C0010's copy is proven and in place.
        auto io = std::make_shared<tessaline::testing::FaultyIO>();
        bool rewritten = false;
        io->beforeOpen = [&](const char* path, int flags) {
            const std::string name = fs::path(path).filename().native();
            if (rewritten || (flags & O_CREAT) || !name.starts_with(".C0011.MP4.")) return;
            rewritten = true;
            writeDistinctMedia(TestMedia::video, card / "DCIM/100MEDIA/C0010.MP4", 3);
        };
        auto log = rescue(*report, driveRoot / "Rescue", io);
        ASSERT_TRUE(log);
        ASSERT_TRUE(rewritten);
        EXPECT_EQ(log->verifiedCount(), 2);
        expectNotSafe(*log, "rewritten-" + fsType, {"DCIM/100MEDIA/C0010.MP4"});
        ASSERT_EQ(log->cardFilesNotProven().size(), 1u);
        EXPECT_EQ(log->cardFilesNotProven()[0].reason, "changed on the card during the copy — copy again");
        EXPECT_EQ(rescueTone, ReportTexts::Tone::bad);
        EXPECT_TRUE(rescueOutcome.contains(QStringLiteral("DCIM/100MEDIA/C0010.MP4"))) << rescueOutcome.toStdString();
    }
}

// exFAT folds case beyond ASCII, so a card's ÉTÉ.TXT and a drive's été.txt of the same bytes
// meet under one name. The copy reports the file under the name the drive stores it as, which
// a scan (ASCII case ignored) does not take for the card file's: the copy names it and does
// not call the card safe, as the scan does not. The same the other way round.
TEST_F(TransferVerdictEndToEndTest, ANameTheDriveFoldsOntoAnotherIsNotTakenForTheCardFilesOwn) {
    BRINDLECOVE_REQUIRE_LOOP_VOLUMES();
    const fs::path exfatDrive = loops.add("exfat", "BKFOLD", 64).mountPoint();
    const std::string exfatLabel = grant(exfatDrive);
    const fs::path card = loops.add("ext4", "CARD_FOLD").mountPoint();
    const std::vector<std::pair<std::string, std::string>> names{{"ÉTÉ.TXT", "été.txt"}, {"été.txt", "ÉTÉ.TXT"}};
    for (const auto& [onCard, onDrive] : names) {
        SCOPED_TRACE(onCard);
        fs::remove_all(card / "NOTES");
        fs::remove_all(exfatDrive / "Fold");
        writeFile(card / "NOTES" / onCard, "Summer notes.");
        writeFile(exfatDrive / "Fold/NOTES" / onDrive, "Summer notes.");
        auto log = copy(card, exfatDrive / "Fold");
        ASSERT_TRUE(log);
        EXPECT_EQ(log->failedCount(), 0);
        EXPECT_EQ(log->skippedCount(), 1);
        expectNotSafe(*log, "fold", {"NOTES/" + onCard});
        EXPECT_NE(log->summary().find("stored as NOTES/" + onDrive), std::string::npos) << log->summary();
        ReportPtr report = scan(card, exfatLabel);
        ASSERT_TRUE(report);
        EXPECT_FALSE(report->isSafeToErase());
        EXPECT_EQ(testing::placesOnlyOnCard(*report), std::vector<std::string>{"NOTES/" + onCard});
    }
}

}  // namespace brindlecove
