#include "BrindlecoveApp/ViewModels/PreviewController.hpp"
#include "BrindlecoveApp/ViewModels/ReportFileListModel.hpp"
#include "BrindlecoveApp/ViewModels/ReportTexts.hpp"

#include "Support/ReportFixtures.hpp"

#include <QDateTime>
#include <QLocale>

#include <gtest/gtest.h>

using namespace brindlecove;
using namespace brindlecove::testing;
using tessaline::MatchStatus;

TEST(ReportFileListModel, RowsOfEveryStatusInAlphabeticalOrder) {
    const double date = 1'714'564'800.0;  // 2024-05-01 12:00 UTC
    auto report = makeReport({
        clip({fingerprint("/card/B/b.MOV", 2'500'000, date)}, MatchStatus::confirmed("/media/u/Backup/Day1/b.MOV")),
        clip({fingerprint("/card/A/a.MOV", 1'000)}, MatchStatus::missing(), {"/card/A/a.XML"}),
        clip({fingerprint("/card/B/A.mov", 10)},
             MatchStatus::possibleDuplicate({"/d1/A.mov", "/d2/A.mov", "/d3/A.mov"})),
        clip({fingerprint("/card/C/IMG_1.CR3", 30'000'000), fingerprint("/card/C/IMG_1.JPG", 5'000'000)},
             MatchStatus::nameMatchMetadataMismatch("/media/u/Backup/IMG_1.CR3")),
        clip({}, MatchStatus::missing()),
    });
    ReportFileListModel model;
    model.setReport(report);
    ASSERT_EQ(model.rowCount(), 5);

    // "?" sorts before letters; A.mov and a.MOV tie on the lower-cased name and go by path.
    EXPECT_EQ(model.row(0).name, "?");
    EXPECT_EQ(model.row(0).firstFilePath, "");
    EXPECT_EQ(model.row(1).name, "a.MOV");
    EXPECT_EQ(model.row(2).name, "A.mov");
    EXPECT_EQ(model.row(3).name, "b.MOV");
    EXPECT_EQ(model.row(4).name, "IMG_1.CR3");

    const ReportRow& missing = model.row(1);
    EXPECT_EQ(missing.status, ReportRow::Status::missing);
    EXPECT_EQ(missing.statusLine, "STILL ONLY ON THE CARD");
    EXPECT_EQ(missing.sizeText, "1 KB");
    EXPECT_TRUE(missing.dateText.isEmpty());
    EXPECT_TRUE(missing.isVideo);

    const ReportRow& duplicate = model.row(2);
    EXPECT_EQ(duplicate.status, ReportRow::Status::duplicate);
    EXPECT_EQ(duplicate.statusLine, "Synced — 3 backup copies");

    const ReportRow& confirmed = model.row(3);
    EXPECT_EQ(confirmed.status, ReportRow::Status::confirmed);
    EXPECT_EQ(confirmed.statusLine, "Synced → /media/u/Backup/Day1");
    EXPECT_EQ(confirmed.sizeText, "2.5 MB");
    const QDateTime when = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(date), Qt::UTC).toLocalTime();
    EXPECT_EQ(confirmed.dateText, QLocale().toString(when, QLocale::ShortFormat));
    EXPECT_FALSE(confirmed.dateText.isEmpty());

    const ReportRow& pair = model.row(4);
    EXPECT_EQ(pair.status, ReportRow::Status::nameMismatch);
    EXPECT_EQ(pair.extraNames, "+ IMG_1.JPG");
    EXPECT_EQ(pair.statusLine, "Name matches IMG_1.CR3 but contents differ — check it");
    EXPECT_EQ(pair.sizeText, "35 MB");
    EXPECT_FALSE(pair.isVideo);
    EXPECT_TRUE(model.row(3).extraNames.isEmpty());

    // The preview list follows the rows and leaves out the clip without a file.
    EXPECT_EQ(model.previewPaths(),
              (QStringList{"/card/A/a.MOV", "/card/B/A.mov", "/card/B/b.MOV", "/card/C/IMG_1.CR3"}));
    EXPECT_EQ(model.rowOfPath("/card/B/b.MOV"), 3);
    EXPECT_EQ(model.rowOfPath(""), -1);

    model.setReport(makeReport({}));
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_TRUE(model.previewPaths().isEmpty());
}

TEST(PreviewController, StepsThroughTheListAndClosesOnAnEmptyPath) {
    PreviewController preview;
    int changes = 0;
    QObject::connect(&preview, &PreviewController::currentChanged, [&] { ++changes; });
    preview.setItems({"/a", "/b", "/c"});
    preview.show("/b");
    EXPECT_EQ(preview.current(), "/b");
    preview.next();
    EXPECT_EQ(preview.current(), "/c");
    preview.next();  // the last file stays
    EXPECT_EQ(preview.current(), "/c");
    preview.previous();
    preview.previous();
    preview.previous();
    EXPECT_EQ(preview.current(), "/a");
    EXPECT_EQ(changes, 4);

    // A file no longer in a new list stays shown, but stepping is off.
    preview.setItems({"/x", "/y"});
    EXPECT_FALSE(preview.canStep());
    preview.next();
    EXPECT_EQ(preview.current(), "/a");

    preview.show("");
    EXPECT_FALSE(preview.current());
    EXPECT_EQ(changes, 5);
}

TEST(ReportFileListModel, ANameNeverBreaksItsRowOnScreen) {
    auto report = makeReport({clip({fingerprint("/card/A001\u2028\u2713 ALL ON DRIVE\u2029x\u0085\n.MXF", 10),
                                    fingerprint("/card/A001\u2028M01.XML", 5)},
                                   MatchStatus::missing())});
    ReportFileListModel model;
    model.setReport(report);
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.row(0).name, QString::fromUtf8("A001\uFFFD\u2713 ALL ON DRIVE\uFFFDx\uFFFD\uFFFD.MXF"));
    EXPECT_EQ(model.row(0).extraNames, QString::fromUtf8("+ A001\uFFFDM01.XML"));
}

TEST(ReportFileListModel, EachRowsTooltipHoldsItsWholePathFilesAndStatus) {
    const std::string folder = "/media/u/CARD/DCIM/" + std::string(200, 'f') + "_END";
    const std::string drive = "/media/u/Backup/" + std::string(150, 'd') + "_DRIVE";
    auto report = makeReport({clip({fingerprint(folder + "/C0001.MP4", 10), fingerprint(folder + "/C0001.WAV", 5)},
                                   MatchStatus::confirmed(drive + "/C0001.MP4")),
                              clip({fingerprint(folder + "/C0002.MP4", 10)}, MatchStatus::missing()),
                              clip({}, MatchStatus::missing())},
                             "/media/u/CARD");
    ReportFileListModel model;
    model.setReport(report);
    ASSERT_EQ(model.rowCount(), 3);
    auto tip = [&](int row) { return model.index(row, 0).data(Qt::ToolTipRole).toString(); };
    // The clip without a file sorts first, by "?".
    EXPECT_EQ(tip(0), "?\nSTILL ONLY ON THE CARD");
    EXPECT_EQ(tip(1), QString::fromStdString(folder + "/C0001.MP4\n+ C0001.WAV\nSynced → " + drive));
    EXPECT_EQ(tip(2), QString::fromStdString(folder + "/C0002.MP4\nSTILL ONLY ON THE CARD"));
}

TEST(ReportFileListModel, ABurstNotProvenNamesTheFramesWithoutACopyAndCountsTheProvenOnes) {
    // A burst of 2 and of 1,000 frames with one spoiled frame, and one with five of 1,000.
    auto burst = [](int frames, std::vector<int> spoiled) {
        std::vector<tessaline::Fingerprint> files;
        for (int k = 0; k < frames; ++k)
            files.push_back(fingerprint("/card/DCIM/IMG_" + std::to_string(10000 + k) + ".JPG", 84'000));
        auto result = clip(std::move(files), MatchStatus::missing());
        result.membersProven.assign(size_t(frames), true);
        for (int k : spoiled) result.membersProven[size_t(k)] = false;
        return result;
    };
    struct Case {
        int frames;
        std::vector<int> spoiled;
        const char* line;
    };
    for (const Case& c : {Case{2, {1}, "No proven copy of IMG_10001.JPG — the other 1 file is proven"},
                          Case{1000, {420}, "No proven copy of IMG_10420.JPG — the other 999 files are proven"},
                          Case{1000, {1, 2, 3, 4, 999},
                               "No proven copy of IMG_10001.JPG, IMG_10002.JPG, IMG_10003.JPG and 2 more — the other "
                               "995 files are proven"}}) {
        SCOPED_TRACE(c.line);
        ReportFileListModel model;
        model.setReport(makeReport({burst(c.frames, c.spoiled)}));
        ASSERT_EQ(model.rowCount(), 1);
        const ReportRow& row = model.row(0);
        EXPECT_EQ(row.status, ReportRow::Status::missing) << "the clip stays not proven";
        EXPECT_EQ(row.statusLine, QString::fromUtf8(c.line));
        EXPECT_TRUE(ReportFileListModel::toolTip(row).contains(QString::fromUtf8(c.line)));
    }
    // Without a proof of its members (none copied), the clip is still only on the card.
    ReportFileListModel model;
    model.setReport(makeReport({clip({fingerprint("/card/A.JPG", 1), fingerprint("/card/B.JPG", 1)}, MatchStatus::missing())}));
    EXPECT_EQ(model.row(0).statusLine, "STILL ONLY ON THE CARD");
}

TEST(ReportFileListModel, AClipLeftUnreadAtTheBoundSaysWhyWithTheCountInTheUsersFormat) {
    auto report = std::make_shared<tessaline::VerificationReport>(*makeReport({
        clip({fingerprint("/card/F1.DNG", 4'000'000)}, MatchStatus::missing()),
        clip({fingerprint("/card/F2.DNG", 4'000'000)}, MatchStatus::missing()),
        clip({fingerprint("/card/G1.DNG", 4'000'000), fingerprint("/card/G2.DNG", 4'000'000)}, MatchStatus::missing()),
    }));
    // A burst with one frame proven and the other left unread names the frame and says why.
    report->results[2].membersProven = {true, false};
    report->unreadCandidates = {{"/card/F2.DNG", 4'000'000, 18'000}, {"/card/G2.DNG", 4'000'000, 1'500, 1'060, 1'012}};
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ReportFileListModel model;
    model.setReport(report);
    QLocale::setDefault(before);
    EXPECT_EQ(model.row(0).statusLine, "STILL ONLY ON THE CARD");
    EXPECT_EQ(model.row(1).statusLine, "STILL ONLY ON THE CARD — 18.000 of its kind not read");
    EXPECT_EQ(model.row(2).statusLine,
              "No proven copy of G2.DNG — the other 1 file is proven — 1.012 of 1.060 under its name not read");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(ReportTexts::unreadReason(report->unreadCandidates.front()),
              "not found under its name or near its time; 18.000 files of its kind on the drives were not read");
    EXPECT_EQ(ReportTexts::unreadReason(report->unreadCandidates.back()),
              "under its name: 1.060 files of its name and size, 1.012 not read; 488 other files of its kind on the "
              "drives were not read");
    QLocale::setDefault(before);
    EXPECT_EQ(ReportTexts::unreadNote(*report),
              "2 card files were not looked for among every drive file of their kind. To prove them, copy the card "
              "with Brindlecove, or grant just the drive folder that holds their copies and scan again.");
}
