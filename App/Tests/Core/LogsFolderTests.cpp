// The chosen logs folder and the reports folder on a real drive: a loop-mounted image.

#include "BrindlecoveApp/AppError.hpp"
#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/ReportsFolderStore.hpp"
#include "BrindlecoveApp/ViewModels/LogStore.hpp"

#include "Support/AppTestSandbox.hpp"

#include "Tessaline/Report/LogArchive.hpp"
#include "Tessaline/Support/DateText.hpp"
#include "Tessaline/Support/PathText.hpp"

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

class LogsFolderTests : public AppSandboxedTest {};

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
    store.refresh();
    ASSERT_EQ(store.logs().size(), 1u);
    EXPECT_TRUE(tessaline::isSameOrBelow(store.logs()[0].directory, chosenBase));
    const QByteArray firstBookmark = *defaults().data(LogArchiveProvider::bookmarkKey);

    {
        MountedElsewhere moved(shuttle, sandbox.path() / "media" / "SHUTTLE1");
        store.refresh();
        const fs::path movedBase = moved.path() / "Day Logs" / "Brindlecove Logs";
        ASSERT_EQ(store.logs().size(), 1u);
        EXPECT_TRUE(tessaline::isSameOrBelow(store.logs()[0].directory, movedBase));
        EXPECT_EQ(store.folderPath(), qpath(movedBase));
        EXPECT_NE(*defaults().data(LogArchiveProvider::bookmarkKey), firstBookmark);
        EXPECT_EQ(provider.currentBaseURL(), movedBase);
    }

    // The drive is away: logs go to the default archive, and the chosen place stays shown.
    store.refresh();
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
        EXPECT_STREQ(error.what(), "No reports folder is set.");
    }
}
