// The Production Log section offscreen: the empty state, the summary and file list of a log,
// and every export written through the Export menu and read back (CSV and JSON parsed, the
// MHL checked against the schema with xmllint, the PDF through pdftotext), with failures
// shown in the alert and a PDF that could not be made never written.

#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/LatestTransfer.hpp"
#include "BrindlecoveApp/ViewModels/MissingSyncViewModel.hpp"
#include "BrindlecoveApp/ViewModels/TransferOutcomeListModel.hpp"
#include "BrindlecoveApp/Views/ProductionLogView.hpp"
#include "BrindlecoveApp/Views/ProportionBar.hpp"
#include "BrindlecoveApp/Views/StatCard.hpp"
#include "Support/AppTestSandbox.hpp"
#include "Support/ReportFixtures.hpp"
#include "Support/ToolTipProbe.hpp"

#include "Tessaline/Support/PdfError.hpp"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>

#include <unistd.h>

#include <map>

#include <gtest/gtest.h>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;
using brindlecove::testing::clip;
using brindlecove::testing::fingerprint;
using brindlecove::testing::makeReport;
using brindlecove::testing::showToolTip;
using tessaline::MatchStatus;
using tessaline::CopyEngine;
using tessaline::TransferLog;
using tessaline::testing::readFile;
using tessaline::testing::runCommand;
using tessaline::testing::writeFile;
using Status = CopyEngine::FileStatus;
namespace fs = std::filesystem;

namespace {

class ProductionLogViewTest : public AppSandboxedTest {
protected:
    CopyViewModel copy{CopyViewModel::Dependencies{}};
    LatestTransfer model{&copy};
    std::vector<SaveRequest> saves;
    std::vector<FolderRequest> folders;
    std::optional<QString> saveAnswer;
    std::optional<QString> folderAnswer;
    std::function<void()> duringPanel;
    std::vector<Confirmation> questions;
    bool replaceAnswer = true;

    Dialogs dialogs() {
        Dialogs d;
        d.confirm = [this](const Confirmation& question) {
            questions.push_back(question);
            return replaceAnswer;
        };
        d.saveFile = [this](const SaveRequest& request) {
            saves.push_back(request);
            if (duringPanel) duringPanel();
            return saveAnswer;
        };
        d.chooseFolder = [this](const FolderRequest& request) {
            folders.push_back(request);
            if (duringPanel) duringPanel();
            return folderAnswer;
        };
        return d;
    }

    // A real destination folder with copies on disk, and a log of verified, present,
    // failed and mismatched files.
    std::shared_ptr<const TransferLog> sampleLog() {
        const fs::path destination = sandbox / "drive";
        auto outcome = [&](const std::string& path, Status status, int64_t size, std::optional<std::string> sum) {
            CopyEngine::FileOutcome o;
            o.relativePath = path;
            o.sourceURL = sandbox / "card" / path;
            o.destinationURL = destination / path;
            o.byteSize = size;
            o.status = std::move(status);
            o.sourceChecksum = sum;
            o.destinationChecksum = sum;
            o.startedAt = 1'741'356'300;
            o.finishedAt = 1'741'356'301;
            writeFile(o.destinationURL, std::string(static_cast<size_t>(size), 'x'));
            return o;
        };
        TransferLog log;
        log.sourceURL = sandbox / "card";
        log.destinationURL = destination;
        log.startedAt = 1'741'356'300;
        log.finishedAt = 1'741'356'310;
        log.outcomes = {outcome("DCIM/A001.MOV", Status::copiedVerified(), 2'000, "0123456789abcdef"),
                        outcome("DCIM/A002.MOV", Status::skippedAlreadyPresent(), 3'000, "00000000000000aa"),
                        outcome("DCIM/A003.MOV", Status::failed("No space left on device."), 4'000, std::nullopt),
                        outcome("DCIM/A004.MOV", Status::verificationFailed(), 5'000, "00000000000000bb")};
        log.plannedFileCount = 4;
        log.plannedBytes = 14'000;
        return std::make_shared<const TransferLog>(std::move(log));
    }

    static QAction* action(QWidget& view, const char* name) {
        auto* found = view.findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_TRUE(found) << name;
        return found;
    }

    static QMessageBox* alert(QWidget& view) {
        return view.findChild<QMessageBox*>(QStringLiteral("productionLog.exportFailed"));
    }

    static void dismiss(QWidget& view) {
        QMessageBox* box = alert(view);
        ASSERT_TRUE(box);
        box->button(QMessageBox::Ok)->click();
        drainEvents();
    }
};

}  // namespace

TEST_F(ProductionLogViewTest, WithoutATransferTheEmptyStateShowsAndThereIsNoExportMenu) {
    ProductionLogView view(model, dialogs());
    auto* pages = view.findChild<QStackedWidget*>();
    ASSERT_TRUE(pages);
    EXPECT_EQ(pages->currentWidget()->objectName(), "emptyState");
    EXPECT_EQ(view.findChild<QLabel*>("emptyState.title")->text(), "No Transfer Yet");
    EXPECT_EQ(view.findChild<QLabel*>("emptyState.description")->text(),
              "Run a verified copy from the Copy tab to produce a production log.");
    EXPECT_EQ(view.findChild<QLabel*>("emptyState.symbol")->property("symbol").toString(), "doc.badge.gearshape");
    EXPECT_FALSE(view.findChild<QToolButton*>("productionLog.export")->isVisibleTo(&view));
    EXPECT_EQ(view.findChild<QLabel*>("productionLog.title")->text(), "Production Log");
}

TEST_F(ProductionLogViewTest, TheSummaryAndFileListFollowTheLastLog) {
    ProductionLogView view(model, dialogs());
    copy.setLastLog(sampleLog());
    drainEvents();
    EXPECT_TRUE(view.findChild<QToolButton*>("productionLog.export")->isVisibleTo(&view));
    EXPECT_EQ(view.findChild<QLabel*>("productionLog.summaryHeader")->text(), "Transfer Summary");
    EXPECT_EQ(view.findChild<QLabel*>("banner.title")->text(), "2 of 4 files failed");
    EXPECT_EQ(view.findChild<QLabel*>("banner.subtitle")->text(), "Do not wipe the card until these are resolved.");
    EXPECT_EQ(view.findChild<QLabel*>("banner.symbol")->property("symbol").toString(), "exclamationmark.triangle.fill");
    const auto& segments = view.findChild<ProportionBar*>("productionLog.bar")->segments();
    ASSERT_EQ(segments.size(), 4u);
    EXPECT_EQ(segments[0].value, 1);
    EXPECT_EQ(segments[1].value, 1);
    EXPECT_EQ(segments[2].value, 0);
    EXPECT_EQ(segments[3].value, 2);
    EXPECT_EQ(view.findChild<StatCard*>("productionLog.tile.verified")->count(), 1);
    EXPECT_EQ(view.findChild<StatCard*>("productionLog.tile.present")->count(), 1);
    EXPECT_EQ(view.findChild<StatCard*>("productionLog.tile.failed")->count(), 2);
    EXPECT_EQ(view.findChild<QLabel*>("productionLog.filesHeader")->text(), "Files (4)");
    auto* list = view.findChild<QListView*>("productionLog.files");
    ASSERT_EQ(list->model()->rowCount(), 4);
    EXPECT_EQ(list->model()->index(2, 0).data(TransferOutcomeListModel::checksumRole).toString(), "xxh64 —");
    EXPECT_EQ(list->model()->index(3, 0).data(TransferOutcomeListModel::failureRole).toString(), "Checksum mismatch.");
    // A row's tooltip holds its whole path and why it failed.
    EXPECT_EQ(list->model()->index(3, 0).data(Qt::ToolTipRole).toString(),
              list->model()->index(3, 0).data(TransferOutcomeListModel::pathRole).toString() + "\nChecksum mismatch.");

    // A big log is one model reset: no widget per row, and the list paints at once.
    TransferLog big = *sampleLog();
    big.outcomes.assign(5000, big.outcomes[0]);
    big.plannedFileCount = 5000;
    copy.setLastLog(std::make_shared<const TransferLog>(big));
    drainEvents();
    EXPECT_EQ(view.findChild<QLabel*>("banner.title")->text(), "All 5,000 files verified byte-for-byte");
    EXPECT_EQ(list->model()->rowCount(), 5000);
    EXPECT_EQ(view.findChild<QLabel*>("productionLog.filesHeader")->text(), "Files (5,000)");
    EXPECT_LT(view.findChildren<QLabel*>().size(), 40);
    view.resize(800, 600);
    list->grab();
}

TEST_F(ProductionLogViewTest, ARescueThatFinishesLastIsTheLogShownWithItsLongPathsReadableInFull) {
    // The rescue's own failure, not the earlier copy of another card.
    const fs::path card = sandbox.path() / "card";
    const std::string folder = "DCIM/" + std::string(180, 'f') + "_END";
    writeFile(card / folder / "C0001.MP4", std::string(1000, 'a'));
    auto report = makeReport({clip({fingerprint(card / folder / "C0001.MP4", 1000)}, MatchStatus::missing())}, card);
    MissingSyncViewModel::Dependencies deps;
    deps.dialogs.chooseFolder = [&](const FolderRequest&) {
        return std::optional<QString>(QString::fromStdString((sandbox.path() / "gone").string()));
    };
    MissingSyncViewModel rescue(deps);
    LatestTransfer latest(&copy, &rescue);
    ProductionLogView view(latest, dialogs());
    view.resize(720, 480);
    view.show();
    copy.setLastLog(sampleLog());
    drainEvents();
    fs::create_directories(sandbox.path() / "gone");
    rescue.pickDestination();
    fs::remove(sandbox.path() / "gone");
    rescue.start(*report);
    ASSERT_TRUE(waitFor([&] { return std::holds_alternative<MissingSyncViewModel::Done>(rescue.phase()); }));
    drainEvents();
    EXPECT_EQ(view.findChild<QLabel*>("banner.title")->text(), "1 of 1 file failed");
    auto* list = view.findChild<QListView*>("productionLog.files");
    ASSERT_EQ(list->model()->rowCount(), 1);
    const QRect row = list->visualRect(list->model()->index(0, 0));
    const auto tip = showToolTip(list->viewport(), row.center());
    ASSERT_TRUE(tip);
    EXPECT_TRUE(tip->text.startsWith(QString::fromStdString(folder + "/C0001.MP4"))) << tip->text.toStdString();
    EXPECT_LE(tip->geometry.width(), tip->screen.width());
}

TEST_F(ProductionLogViewTest, EachExportIsWrittenAndReadsBack) {
    ProductionLogView view(model, dialogs());
    auto log = sampleLog();
    copy.setLastLog(log);
    drainEvents();

    saveAnswer = qpath(sandbox / "out" / "log.csv");
    fs::create_directories(sandbox / "out");
    action(view, "productionLog.export.csv")->trigger();
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0].suggestedName, "Brindlecove Transfer Log.csv");
    EXPECT_EQ(saves[0].prompt, "Export");
    const QStringList lines = QString::fromStdString(readFile(sandbox / "out" / "log.csv")).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0], "status,relative_path,size_bytes,source_xxh64,destination_xxh64,seconds");
    EXPECT_TRUE(lines[1].contains("DCIM/A001.MOV")) << lines[1].toStdString();
    EXPECT_EQ(lines[1].split(',').size(), 6);

    saveAnswer = qpath(sandbox / "out" / "log.json");
    action(view, "productionLog.export.json")->trigger();
    EXPECT_EQ(saves.back().suggestedName, "Brindlecove Transfer Log.json");
    QJsonParseError error;
    const auto json = QJsonDocument::fromJson(QByteArray::fromStdString(readFile(sandbox / "out" / "log.json")), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    ASSERT_TRUE(json.isObject());
    bool foundFourEntries = false;
    for (const auto& value : json.object())
        if (value.isArray() && value.toArray().size() == 4) foundFourEntries = true;
    EXPECT_TRUE(foundFourEntries) << "one entry per outcome";

    saveAnswer = qpath(sandbox / "out" / "log.mhl");
    action(view, "productionLog.export.mhl")->trigger();
    EXPECT_EQ(saves.back().suggestedName, "Brindlecove Transfer Log.mhl");
    const std::string mhl = readFile(sandbox / "out" / "log.mhl");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_NE(mhl.find("<hostname>" + std::string(host) + "</hostname>"), std::string::npos);
    EXPECT_NE(mhl.find(">Brindlecove</tool>"), std::string::npos);
    const fs::path schema = tessaline::testing::mhlSchemaFile();
    ASSERT_TRUE(fs::exists(schema)) << schema;
    auto check = runCommand({"xmllint", "--noout", "--schema", schema.string(), (sandbox / "out" / "log.mhl").string()});
    EXPECT_EQ(check.exitCode, 0) << check.output;

    saveAnswer = qpath(sandbox / "out" / "log.pdf");
    action(view, "productionLog.export.pdf")->trigger();
    EXPECT_EQ(saves.back().suggestedName, "Brindlecove Transfer Log.pdf");
    const std::string text = tessaline::testing::pdfText(sandbox / "out" / "log.pdf");
    EXPECT_NE(text.find("A003.MOV"), std::string::npos) << text;

    folderAnswer = qpath(sandbox / "all" / "new");
    action(view, "productionLog.export.all")->trigger();
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].prompt, "Export Here");
    EXPECT_TRUE(folders[0].canCreateFolders);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(sandbox / "all" / "new")) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"Brindlecove-transfer-log.csv", "Brindlecove-transfer-log.json",
                                            "Brindlecove-transfer-log.mhl", "Brindlecove-transfer-log.pdf"}));
    EXPECT_EQ(readFile(sandbox / "all" / "new" / "Brindlecove-transfer-log.csv"), readFile(sandbox / "out" / "log.csv"));
    EXPECT_FALSE(alert(view));
    EXPECT_FALSE(view.exportError());
}

// A delivery folder that already holds another card's export: "All four" asks before it
// replaces anything, naming the files; No leaves every byte, Yes replaces all four.
TEST_F(ProductionLogViewTest, AllFourIntoAFolderWithAnEarlierExportAsksBeforeReplacing) {
    ProductionLogView view(model, dialogs());
    auto cardA = sampleLog();
    copy.setLastLog(cardA);
    drainEvents();
    const fs::path delivery = sandbox / "delivery";
    folderAnswer = qpath(delivery);
    action(view, "productionLog.export.all")->trigger();
    EXPECT_TRUE(questions.empty()) << "a new folder holds nothing to replace";
    const std::vector<std::string> names = {"Brindlecove-transfer-log.csv", "Brindlecove-transfer-log.json",
                                            "Brindlecove-transfer-log.mhl", "Brindlecove-transfer-log.pdf"};
    std::map<std::string, std::string> before;
    for (const auto& name : names) before[name] = readFile(delivery / name);
    writeFile(delivery / "notes.txt", "the crew's own file");

    TransferLog b = *cardA;
    b.outcomes.resize(1);
    b.plannedFileCount = 1;
    b.sourceURL = sandbox / "cardB";
    copy.setLastLog(std::make_shared<const TransferLog>(b));
    drainEvents();

    auto listing = [&] {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(delivery))
            files[entry.path().filename().string()] = readFile(entry.path());
        return files;
    };
    const auto untouched = listing();
    replaceAnswer = false;
    action(view, "productionLog.export.all")->trigger();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].title.toStdString(),
              "Replace Brindlecove-transfer-log.csv, Brindlecove-transfer-log.json, Brindlecove-transfer-log.mhl, "
              "Brindlecove-transfer-log.pdf in " +
                  delivery.string() + "?");
    EXPECT_EQ(questions[0].actionText, "Replace");
    EXPECT_EQ(listing(), untouched) << "No writes nothing";
    EXPECT_FALSE(view.exportError());

    // One of the four names taken is enough to ask, and only that one is named.
    for (const auto& name : {names[0], names[1], names[3]}) fs::remove(delivery / name);
    action(view, "productionLog.export.all")->trigger();
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[1].title.toStdString(), "Replace Brindlecove-transfer-log.mhl in " + delivery.string() + "?");
    EXPECT_EQ(readFile(delivery / names[2]), before[names[2]]);
    EXPECT_FALSE(fs::exists(delivery / names[0]));

    replaceAnswer = true;
    action(view, "productionLog.export.all")->trigger();
    ASSERT_EQ(questions.size(), 3u);
    for (const auto& name : names) ASSERT_TRUE(fs::exists(delivery / name)) << name;
    EXPECT_NE(readFile(delivery / names[2]), before[names[2]]) << "Yes replaces";
    EXPECT_EQ(readFile(delivery / names[0]).find("A004.MOV"), std::string::npos) << "card B's log";
    EXPECT_EQ(readFile(delivery / "notes.txt"), "the crew's own file");
    EXPECT_FALSE(view.exportError());
}

TEST_F(ProductionLogViewTest, TheLogIsTakenWhenTheEntryFiresAndACancelledPanelDoesNothing) {
    ProductionLogView view(model, dialogs());
    auto first = sampleLog();
    copy.setLastLog(first);
    drainEvents();
    // A copy finishing while the panel is open does not change what is written.
    TransferLog other = *first;
    other.outcomes.resize(1);
    other.plannedFileCount = 1;
    duringPanel = [&] {
        copy.setLastLog(std::make_shared<const TransferLog>(other));
        drainEvents();
    };
    saveAnswer = qpath(sandbox / "taken.csv");
    action(view, "productionLog.export.csv")->trigger();
    EXPECT_NE(readFile(sandbox / "taken.csv").find("A004.MOV"), std::string::npos);
    EXPECT_EQ(view.findChild<QLabel*>("productionLog.filesHeader")->text(), "Files (1)");

    duringPanel = {};
    saveAnswer.reset();
    folderAnswer.reset();
    action(view, "productionLog.export.pdf")->trigger();
    action(view, "productionLog.export.all")->trigger();
    EXPECT_FALSE(alert(view));
    EXPECT_FALSE(view.exportError());
}

TEST_F(ProductionLogViewTest, APdfThatCannotBeMadeIsNeverWrittenAndAllFourKeepsTheEarlierFiles) {
    TransferLogFiles::Makers makers;
    makers.pdf = [](const TransferLog&) -> std::string { throw tessaline::PdfError("no surface"); };
    ProductionLogView view(model, dialogs(), TransferLogFiles(makers));
    copy.setLastLog(sampleLog());
    drainEvents();

    writeFile(sandbox / "keep.pdf", "an earlier export");
    saveAnswer = qpath(sandbox / "keep.pdf");
    action(view, "productionLog.export.pdf")->trigger();
    ASSERT_TRUE(view.exportError());
    EXPECT_EQ(*view.exportError(), "Couldn't create the PDF.");
    ASSERT_TRUE(alert(view));
    EXPECT_EQ(alert(view)->informativeText(), "Couldn't create the PDF.");
    EXPECT_EQ(alert(view)->windowTitle(), "Export Failed");
    EXPECT_EQ(readFile(sandbox / "keep.pdf"), "an earlier export") << "the file under the chosen name is untouched";
    dismiss(view);
    EXPECT_FALSE(view.exportError());

    folderAnswer = qpath(sandbox / "all");
    action(view, "productionLog.export.all")->trigger();
    EXPECT_EQ(view.exportError(), QStringLiteral("Couldn't create the PDF."));
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(sandbox / "all")) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"Brindlecove-transfer-log.csv", "Brindlecove-transfer-log.json",
                                            "Brindlecove-transfer-log.mhl"}));
    dismiss(view);

    // An empty PDF is no PDF either.
    makers.pdf = [](const TransferLog&) { return std::string(); };
    ProductionLogView empty(model, dialogs(), TransferLogFiles(makers));
    saveAnswer = qpath(sandbox / "empty.pdf");
    action(empty, "productionLog.export.pdf")->trigger();
    EXPECT_EQ(empty.exportError(), QStringLiteral("Couldn't create the PDF."));
    EXPECT_FALSE(fs::exists(sandbox / "empty.pdf"));
}

TEST_F(ProductionLogViewTest, AnUnwritablePlaceShowsTheAlertAndTheNextExportWorksAtOnce) {
    ProductionLogView view(model, dialogs());
    copy.setLastLog(sampleLog());
    drainEvents();
    writeFile(sandbox / "plain-file", "x");
    saveAnswer = qpath(sandbox / "plain-file" / "log.csv");  // under a regular file: ENOTDIR
    action(view, "productionLog.export.csv")->trigger();
    ASSERT_TRUE(view.exportError());
    EXPECT_TRUE(view.exportError()->startsWith("Couldn't write ")) << view.exportError()->toStdString();
    folderAnswer = qpath(sandbox / "plain-file" / "folder");
    dismiss(view);
    action(view, "productionLog.export.all")->trigger();
    ASSERT_TRUE(view.exportError());
    EXPECT_TRUE(view.exportError()->startsWith("Couldn't create the folder ")) << view.exportError()->toStdString();
    dismiss(view);

    saveAnswer = qpath(sandbox / "log.csv");
    action(view, "productionLog.export.csv")->trigger();
    EXPECT_FALSE(view.exportError());
    EXPECT_TRUE(fs::exists(sandbox / "log.csv"));
    // No temporary file is left behind by the failures or the write.
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(sandbox.path())) entries += entry.path().filename() == "log.csv";
    EXPECT_EQ(entries, 1);
}

// An 8 MiB drive with no free block that already holds an earlier export of each kind: every
// export fails with the system's reason in "Export Failed", and each earlier file survives
// byte for byte, for a small log and for one far larger than any write buffer.
TEST_F(ProductionLogViewTest, OnAFullDriveEveryExportFailsWithItsReasonAndTheEarlierFilesSurvive) {
    TESSALINE_REQUIRE_ROOT();
    tessaline::testing::LoopVolume drive("ext4", 8, "FULL");
    const fs::path folder = drive.mountPoint();
    const auto small = sampleLog();
    TransferLog large = *small;
    while (large.outcomes.size() < 20'000) {
        CopyEngine::FileOutcome more = small->outcomes[large.outcomes.size() % small->outcomes.size()];
        more.relativePath = "DCIM/" + std::to_string(large.outcomes.size()) + "/" + more.relativePath;
        large.outcomes.push_back(std::move(more));
    }
    large.plannedFileCount = static_cast<int>(large.outcomes.size());
    const std::vector<std::string> kinds{"mhl", "csv", "json"};
    for (const std::string& kind : kinds) writeFile(folder / ("Brindlecove Transfer Log." + kind), "earlier " + kind);
    tessaline::testing::fillVolume(folder);

    ProductionLogView view(model, dialogs());
    for (const auto& log : {small, std::make_shared<const TransferLog>(large)}) {
        SCOPED_TRACE(log->outcomes.size());
        copy.setLastLog(log);
        drainEvents();
        for (const std::string& kind : kinds) {
            SCOPED_TRACE(kind);
            const fs::path target = folder / ("Brindlecove Transfer Log." + kind);
            saveAnswer = qpath(target);
            action(view, ("productionLog.export." + kind).c_str())->trigger();
            ASSERT_TRUE(view.exportError());
            EXPECT_EQ(*view.exportError(), "Couldn't write " + qpath(target) + ": No space left on device.");
            ASSERT_TRUE(alert(view));
            EXPECT_EQ(alert(view)->windowTitle(), "Export Failed");
            EXPECT_EQ(readFile(target), "earlier " + kind) << "the earlier export is untouched";
            dismiss(view);
        }
    }
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_NE(entry.path().filename().native().front(), '.') << "temporary file left: " << entry.path();
}
