// The chosen logs folder and the reports folder on a real drive: a loop-mounted image.

#include "BrindlecoveApp/AppError.hpp"
#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/ReportTextFileName.hpp"
#include "BrindlecoveApp/ReportsFolderStore.hpp"
#include "BrindlecoveApp/ViewModels/LogStore.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/ReportFixtures.hpp"

#include "Tessaline/Report/LogArchive.hpp"
#include "Tessaline/Support/DateText.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Transfer/TransferLog.hpp"

#include <QFile>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;
using tessaline::testing::LoopVolume;
using tessaline::testing::readFile;
using tessaline::testing::runCommand;
namespace fs = std::filesystem;

namespace {

// Mounts a loop volume's device at another folder for the life of the object.
class MountedElsewhere {
public:
    MountedElsewhere(LoopVolume& volume, fs::path at) : at_(std::move(at)) {
        volume.unmount();
        fs::create_directories(at_);
        auto result = runCommand({"mount", "-t", "ext4", volume.device(), at_.string()});
        if (result.exitCode != 0) throw std::runtime_error("mount failed: " + result.output);
    }
    ~MountedElsewhere() { runCommand({"umount", at_.string()}); }
    const fs::path& path() const { return at_; }

private:
    fs::path at_;
};

tessaline::ArchivedLog fileOne(const tessaline::LogArchive& archive) {
    tessaline::LogMeta meta;
    meta.title = "A001";
    return archive.fileRun(tessaline::LogKind::verify, tessaline::nowEpoch(), std::nullopt, meta,
                           [](const fs::path&, const std::string&) {});
}

}  // namespace

class LogsFolderTests : public AppSandboxedTest {
protected:
    // Re-lists the store and waits for the list.
    static bool relisted(LogStore& store) {
        store.refresh();
        return waitFor([&] { return !store.isListing(); }, 60'000);
    }
};

// A chosen logs folder that can't be written (read-only, then full): each log goes to the
// default archive instead, and both the run's notice and the Logs section say where and why.
TEST_F(LogsFolderTests, ALogTheChosenFolderCannotTakeGoesToTheDefaultArchiveAndSaysWhereAndWhy) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume shuttle("ext4", 8, "SHUTTLE");
    LogArchiveProvider provider;
    ASSERT_TRUE(provider.chooseFolder(shuttle.mountPoint()));
    const fs::path chosenBase = shuttle.mountPoint() / "Brindlecove Logs";
    const fs::path defaultBase = dataHome() / "Brindlecove" / "Logs";
    LogStore store(provider);
    tessaline::TransferLog copy;
    copy.sourceURL = "/media/crew/CARD";
    copy.destinationURL = "/media/crew/BACKUP";
    copy.plannedFileCount = 0;

    ASSERT_EQ(runCommand({"mount", "-o", "remount,ro", shuttle.mountPoint().string()}).exitCode, 0);
    LogArchiveProvider::Filing filing = provider.fileTransfer(copy);
    ASSERT_TRUE(filing.log);
    EXPECT_EQ(filing.log->directory.parent_path().parent_path(), defaultBase);
    EXPECT_TRUE(fs::exists(filing.log->directory / "meta.json"));
    ASSERT_TRUE(filing.notice);
    const std::string notice = filing.notice->toStdString();
    EXPECT_TRUE(filing.notice->startsWith("This log couldn't be saved in the logs folder (Couldn't write " +
                                          qpath(chosenBase)))
        << notice;
    EXPECT_NE(notice.find("Read-only file system.) \u2014 it was saved in " + filing.log->directory.string() +
                          " instead."),
              std::string::npos)
        << notice;
    ASSERT_TRUE(relisted(store));
    EXPECT_EQ(store.folderPath(), qpath(chosenBase)) << "logs are still meant to go to the chosen folder";
    ASSERT_TRUE(store.filingNotice());
    EXPECT_TRUE(store.filingNotice()->startsWith("The last log couldn't be saved here (Couldn't write "));
    EXPECT_TRUE(store.filingNotice()->endsWith(qpath(filing.log->directory) + " instead."));

    // Writable again: the next log goes where it is meant to, and the notice goes away.
    ASSERT_EQ(runCommand({"mount", "-o", "remount,rw", shuttle.mountPoint().string()}).exitCode, 0);
    filing = provider.fileTransfer(copy);
    ASSERT_TRUE(filing.log);
    EXPECT_EQ(filing.log->directory.parent_path().parent_path(), chosenBase);
    EXPECT_FALSE(filing.notice);
    ASSERT_TRUE(relisted(store));
    EXPECT_FALSE(store.filingNotice());

    // Full: the same.
    tessaline::testing::fillVolume(shuttle.mountPoint());
    auto report = brindlecove::testing::makeReport({});
    filing = provider.fileReport(*report);
    ASSERT_TRUE(filing.log);
    EXPECT_EQ(filing.log->directory.parent_path().parent_path(), defaultBase);
    ASSERT_TRUE(filing.notice);
    EXPECT_NE(filing.notice->indexOf("No space left on device"), -1) << filing.notice->toStdString();
    ASSERT_TRUE(relisted(store));
    ASSERT_TRUE(store.filingNotice());

    // Nowhere at all: the notice says the log was not saved.
    fs::remove_all(defaultBase);
    tessaline::testing::writeFile(defaultBase, "a file where the archive's folder should be");
    filing = provider.fileTransfer(copy);
    EXPECT_FALSE(filing.log);
    ASSERT_TRUE(filing.notice);
    EXPECT_TRUE(filing.notice->startsWith("This log couldn't be saved: Couldn't write ")) << filing.notice->toStdString();
    ASSERT_TRUE(relisted(store));
    ASSERT_TRUE(store.filingNotice());
    EXPECT_TRUE(store.filingNotice()->startsWith("The last log couldn't be saved anywhere: "));
}

TEST_F(LogsFolderTests, LogsFollowTheirDriveWhenItIsMountedElsewhereAndFallBackWhileItIsAway) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume shuttle("ext4", 64, "SHUTTLE");
    fs::create_directories(shuttle.mountPoint() / "Day Logs");
    const LogArchiveProvider& provider = LogArchiveProvider::shared();
    ASSERT_TRUE(provider.chooseFolder(shuttle.mountPoint() / "Day Logs"));
    const fs::path chosenBase = shuttle.mountPoint() / "Day Logs" / "Brindlecove Logs";

    LogStore store;
    EXPECT_EQ(store.folderPath(), qpath(chosenBase));
    fileOne(store.provider().resolve().archive());
    ASSERT_TRUE(relisted(store));
    ASSERT_EQ(store.logs().size(), 1u);
    EXPECT_TRUE(tessaline::isSameOrBelow(store.logs()[0].directory, chosenBase));
    const QByteArray firstBookmark = *defaults().data(LogArchiveProvider::bookmarkKey);

    {
        MountedElsewhere moved(shuttle, sandbox.path() / "media" / "SHUTTLE1");
        ASSERT_TRUE(relisted(store));
        const fs::path movedBase = moved.path() / "Day Logs" / "Brindlecove Logs";
        ASSERT_EQ(store.logs().size(), 1u);
        EXPECT_TRUE(tessaline::isSameOrBelow(store.logs()[0].directory, movedBase));
        EXPECT_EQ(store.folderPath(), qpath(movedBase));
        EXPECT_NE(*defaults().data(LogArchiveProvider::bookmarkKey), firstBookmark);
        EXPECT_EQ(provider.currentBaseURL(), movedBase);
    }

    // The drive is away: logs go to the default archive, and the chosen place stays shown.
    ASSERT_TRUE(relisted(store));
    EXPECT_TRUE(store.logs().empty());
    EXPECT_EQ(provider.currentBaseURL(), dataHome() / "Brindlecove" / "Logs");
    EXPECT_EQ(store.folderPath(), qpath(sandbox.path() / "media" / "SHUTTLE1" / "Day Logs" / "Brindlecove Logs"));
    // A leftover folder at the old path on the system disk is never used.
    fs::create_directories(sandbox.path() / "media" / "SHUTTLE1" / "Day Logs");
    EXPECT_EQ(provider.currentBaseURL(), dataHome() / "Brindlecove" / "Logs");
}

TEST_F(LogsFolderTests, ReportsFolderWritesNeverReplaceAReportAndFailClearly) {
    EXPECT_FALSE(ReportsFolderStore::isConfigured());
    try {
        ReportsFolderStore::write(QStringLiteral("text"), QStringLiteral("a.txt"));
        FAIL() << "expected a failure";
    } catch (const AppError& error) {
        EXPECT_STREQ(error.what(), "No reports folder is set.");
        EXPECT_EQ(error.domain(), QStringLiteral("Brindlecove"));
        EXPECT_EQ(error.code(), 1);
    }

    const fs::path folder = sandbox.path() / "Reports";
    fs::create_directories(folder);
    ASSERT_TRUE(ReportsFolderStore::choose(folder));
    EXPECT_TRUE(ReportsFolderStore::isConfigured());
    EXPECT_EQ(ReportsFolderStore::resolvedURL(), fs::canonical(folder));
    fs::path written = ReportsFolderStore::write(QStringLiteral("first ✓"), QStringLiteral("A001 report.txt"));
    EXPECT_EQ(written, fs::canonical(folder) / "A001 report.txt");
    EXPECT_EQ(readFile(written), "first \u2713");
    // Scans finishing within one second make the same name: each report keeps its own file.
    EXPECT_EQ(ReportsFolderStore::write(QStringLiteral("second"), QStringLiteral("A001 report.txt")),
              fs::canonical(folder) / "A001 report 2.txt");
    EXPECT_EQ(ReportsFolderStore::write(QStringLiteral("third"), QStringLiteral("A001 report.txt")),
              fs::canonical(folder) / "A001 report 3.txt");
    EXPECT_EQ(readFile(written), "first \u2713");
    EXPECT_EQ(readFile(folder / "A001 report 2.txt"), "second");
    EXPECT_EQ(readFile(folder / "A001 report 3.txt"), "third");
    // A name taken by anything (here a folder) is passed over too; no temporary file stays.
    fs::create_directories(folder / "B.txt");
    EXPECT_EQ(ReportsFolderStore::write(QStringLiteral("b"), QStringLiteral("B.txt")), fs::canonical(folder) / "B 2.txt");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 5);

    fs::remove_all(folder);
    EXPECT_TRUE(ReportsFolderStore::isConfigured());
    EXPECT_ANY_THROW(ReportsFolderStore::write(QStringLiteral("x"), QStringLiteral("b.txt")));

    ReportsFolderStore::clear();
    EXPECT_FALSE(ReportsFolderStore::isConfigured());
}

TEST_F(LogsFolderTests, AStaleReportsFolderIsRenewedAndAnAbsentDriveIsNoFolder) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 64, "REPORTS");
    fs::create_directories(drive.mountPoint() / "txt");
    ASSERT_TRUE(ReportsFolderStore::choose(drive.mountPoint() / "txt"));
    const QByteArray before = *defaults().data(ReportsFolderStore::bookmarkKey);
    {
        MountedElsewhere moved(drive, sandbox.path() / "media" / "REPORTS");
        EXPECT_EQ(ReportsFolderStore::resolvedURL(), moved.path() / "txt");
        EXPECT_NE(*defaults().data(ReportsFolderStore::bookmarkKey), before);
        fs::path file = ReportsFolderStore::write(QStringLiteral("r"), QStringLiteral("r.txt"));
        EXPECT_EQ(file, moved.path() / "txt" / "r.txt");
    }
    EXPECT_FALSE(ReportsFolderStore::resolvedURL());
    try {
        ReportsFolderStore::write(QStringLiteral("r"), QStringLiteral("r.txt"));
        FAIL() << "expected a failure";
    } catch (const AppError& error) {
        EXPECT_STREQ(error.what(), "The reports folder can't be reached.");
    }
}

// Text reports of cards with long names, on a real drive: every name the scan makes is
// written whole, and a second report of the same second is numbered within 255 bytes.
TEST_F(LogsFolderTests, ReportTextsOfLongCardNamesAreWrittenWholeAndNumberedWithinTheNameLimit) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 16, "REPORTS");
    const fs::path folder = drive.mountPoint() / "txt";
    fs::create_directories(folder);
    ASSERT_TRUE(ReportsFolderStore::choose(folder));
    std::vector<QString> cards;
    for (int bytes : {150, 189, 200, 230, 255}) cards.push_back(QString(bytes, QLatin1Char('C')));
    cards.push_back(QString(80, QChar(u'\u30ab')));  // 240 bytes of three-byte characters
    int second = 0;
    for (const QString& card : cards) {
        SCOPED_TRACE(card.toUtf8().size());
        // Cards of 230 and 255 bytes shorten to one name: each report has a time of its own.
        const QString stamp = QStringLiteral("2025-03-07 1405%1").arg(++second, 2, 10, QLatin1Char('0'));
        const QString name = reportTextFileName(QStringLiteral("/media/crew/") + card, std::nullopt, stamp);
        const QString text = QStringLiteral("Brindlecove \u2014 Card Verification Report\n") + card;
        const fs::path first = ReportsFolderStore::write(text, name);
        EXPECT_EQ(first.filename().string(), name.toStdString());
        EXPECT_EQ(readFile(first), text.toStdString());
        const fs::path again = ReportsFolderStore::write(text, name);
        EXPECT_LE(again.filename().native().size(), 255u);
        EXPECT_TRUE(QFile::decodeName(again.filename().c_str()).endsWith(stamp + QStringLiteral(" 2.txt")))
            << "the time stays whole";
        EXPECT_EQ(QString::fromUtf8(again.filename().c_str()).toUtf8(), QByteArray(again.filename().c_str()))
            << "no character split";
        EXPECT_EQ(readFile(again), text.toStdString());
    }
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_NE(entry.path().filename().string().front(), '.') << "no temporary file stays";
}

// The chosen logs folder's drive is unplugged before a copy ends: the log lands in the
// default archive, and both the copy's notice and the Logs section say where and why.
TEST_F(LogsFolderTests, ALogWhoseChosenFolderIsUnreachableGoesToTheDefaultArchiveAndBothPlacesSaySo) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume shuttle("ext4", 8, "SHUTTLE");
    LogArchiveProvider provider;
    ASSERT_TRUE(provider.chooseFolder(shuttle.mountPoint()));
    const QString shown = provider.displayPath();
    const fs::path defaultBase = dataHome() / "Brindlecove" / "Logs";
    LogStore store(provider);
    ASSERT_TRUE(relisted(store));
    shuttle.unmount();

    tessaline::TransferLog copy;
    copy.sourceURL = "/media/crew/CARD";
    copy.destinationURL = "/media/crew/BACKUP";
    copy.plannedFileCount = 0;
    LogArchiveProvider::Filing filing = provider.fileTransfer(copy);
    ASSERT_TRUE(filing.log);
    EXPECT_EQ(filing.log->directory.parent_path().parent_path(), defaultBase);
    ASSERT_TRUE(filing.notice);
    EXPECT_EQ(*filing.notice, QStringLiteral("This log couldn't be saved in the logs folder (%1 can't be reached) \u2014 "
                                             "it was saved in %2 instead.")
                                  .arg(shown, qpath(filing.log->directory)));
    ASSERT_TRUE(relisted(store));
    EXPECT_EQ(store.folderPath(), shown);
    ASSERT_TRUE(store.filingNotice());
    EXPECT_EQ(*store.filingNotice(), QStringLiteral("The last log couldn't be saved here (%1 can't be reached) \u2014 "
                                                    "it was saved in %2 instead.")
                                         .arg(shown, qpath(filing.log->directory)));
    EXPECT_FALSE(fs::exists(shuttle.mountPoint() / "Brindlecove Logs")) << "nothing written where the drive was";
}
