// The one reader of the program's own files (stores, grants, the log archive's meta files):
// a FIFO, a socket, a folder or a device in place of any of them is refused at once, never
// opened in a way that blocks. A hang here shows as the test program's time-out.

#include "Tessaline/Bookmarks/BookmarkStoreFile.hpp"
#include "Tessaline/Index/FingerprintIndex.hpp"
#include "Tessaline/Report/LogArchive.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/ReadFile.hpp"
#include "Tessaline/Sync/SyncConfiguration.hpp"
#include "Tessaline/Sync/SyncReportStore.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <cerrno>

using namespace tessaline;
using tessaline::testing::allSpecialFiles;
using tessaline::testing::makeSpecialFile;
using tessaline::testing::SandboxedTest;
using tessaline::testing::SpecialFile;
using tessaline::testing::specialFileName;
using tessaline::testing::writeFile;
namespace fs = std::filesystem;

namespace {

class SafeReadTest : public SandboxedTest {};

}  // namespace

TEST_F(SafeReadTest, RegularFilesAreReadAndEverySpecialFileIsRefusedWithoutBlocking) {
    writeFile(sandbox / "plain.json", "[1, 2]");
    fs::create_symlink(sandbox / "plain.json", sandbox / "link.json");
    EXPECT_EQ(readWholeFile(sandbox / "plain.json"), "[1, 2]");
    EXPECT_EQ(readWholeFile(sandbox / "link.json"), "[1, 2]") << "a link to a regular file is read";

    for (SpecialFile kind : allSpecialFiles) {
        SCOPED_TRACE(specialFileName(kind));
        const fs::path path = sandbox / (std::string(specialFileName(kind)) + ".json");
        makeSpecialFile(kind, path);
        try {
            readWholeFile(path);
            ADD_FAILURE() << "read a special file";
        } catch (const FileReadError& error) {
            EXPECT_EQ(error.error(), kind == SpecialFile::folder ? EISDIR : EINVAL);
            if (kind != SpecialFile::folder)
                EXPECT_NE(std::string(error.what()).find("it is not a regular file"), std::string::npos) << error.what();
        }
    }

    try {
        readWholeFile(sandbox / "missing.json");
        ADD_FAILURE() << "read a missing file";
    } catch (const FileReadError& error) {
        EXPECT_EQ(error.error(), ENOENT);
    }
    // A file far larger than the caller's limit is refused without being read whole.
    writeFile(sandbox / "big.json", std::string(4096, 'x'));
    EXPECT_EQ(readWholeFile(sandbox / "big.json", 4096).size(), 4096u);
    try {
        readWholeFile(sandbox / "big.json", 4095);
        ADD_FAILURE() << "read past the limit";
    } catch (const FileReadError& error) {
        EXPECT_EQ(error.error(), EFBIG);
    }
}

TEST_F(SafeReadTest, ASpecialFileInPlaceOfAnyStoreLeavesItsReaderWithNothing) {
    for (SpecialFile kind : allSpecialFiles) {
        SCOPED_TRACE(specialFileName(kind));
        const fs::path folder = sandbox / specialFileName(kind);

        makeSpecialFile(kind, folder / "sync-config.json");
        EXPECT_ANY_THROW(SyncConfiguration::load(folder / "sync-config.json"));

        makeSpecialFile(kind, folder / "sync-runs.json");
        EXPECT_TRUE(SyncReportStore(folder / "sync-runs.json").allRuns().empty());

        makeSpecialFile(kind, folder / "bookmarks.json");
        BookmarkFileContents grants = loadBookmarkFile(folder / "bookmarks.json");
        EXPECT_TRUE(grants.entries.empty());
        EXPECT_TRUE(grants.damaged) << "kept aside before it is ever replaced";

        // The log archive: a run whose meta.json is special is no log; the others are listed.
        LogArchive archive(folder / "Logs");
        LogMeta meta;
        meta.title = "T";
        ArchivedLog real = archive.fileRun(LogKind::transfer, 1'700'000'000, std::nullopt, meta,
                                           [](const fs::path&, const std::string&) {});
        const fs::path run = real.directory.parent_path() / "transfer-999999";
        fs::create_directories(run);
        makeSpecialFile(kind, run / "meta.json");
        auto listed = archive.list();
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].directory, real.directory);
        ArchivedLog special = real;
        special.directory = run;
        EXPECT_ANY_THROW(archive.setProject(special, std::string("Job")));
    }
}

TEST_F(SafeReadTest, ASpecialFileInPlaceOfTheFingerprintCacheIsSetAsideForAFreshOne) {
    for (SpecialFile kind : {SpecialFile::fifo, SpecialFile::folder}) {
        SCOPED_TRACE(specialFileName(kind));
        const fs::path folder = sandbox / specialFileName(kind);
        const fs::path cache = folder / "fingerprint-cache.db";
        makeSpecialFile(kind, cache);
        FingerprintIndex index(cache);
        EXPECT_EQ(index.stats().totalRows, 0);
        EXPECT_TRUE(fs::is_regular_file(cache));
        int aside = 0;
        for (const auto& entry : fs::directory_iterator(folder))
            aside += entry.path().filename().string().starts_with("fingerprint-cache.db.unreadable-");
        EXPECT_EQ(aside, 1);
    }
}
