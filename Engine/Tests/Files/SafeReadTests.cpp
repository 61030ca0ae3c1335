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
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tessaline;
using tessaline::testing::SandboxedTest;
using tessaline::testing::writeFile;
namespace fs = std::filesystem;

namespace {

enum class Special { fifo, socket, folder, device };

const char* nameOf(Special kind) {
    switch (kind) {
        case Special::fifo: return "FIFO";
        case Special::socket: return "socket";
        case Special::folder: return "folder";
        case Special::device: return "device";
    }
    return "";
}

// Puts a special file of `kind` at `path` (a device through a link to /dev/zero, which never ends).
void makeSpecial(Special kind, const fs::path& path) {
    fs::create_directories(path.parent_path());
    switch (kind) {
        case Special::fifo: ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0) << strerror(errno); break;
        case Special::socket: {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            ASSERT_LT(path.native().size(), sizeof address.sun_path);
            std::strcpy(address.sun_path, path.c_str());
            int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << strerror(errno);
            ::close(fd);  // the socket file stays
            break;
        }
        case Special::folder: fs::create_directories(path); break;
        case Special::device: fs::create_symlink("/dev/zero", path); break;
    }
}

constexpr Special allKinds[] = {Special::fifo, Special::socket, Special::folder, Special::device};

class SafeReadTest : public SandboxedTest {};

}  // namespace

TEST_F(SafeReadTest, RegularFilesAreReadAndEverySpecialFileIsRefusedWithoutBlocking) {
    writeFile(sandbox / "plain.json", "[1, 2]");
    fs::create_symlink(sandbox / "plain.json", sandbox / "link.json");
    EXPECT_EQ(readWholeFile(sandbox / "plain.json"), "[1, 2]");
    EXPECT_EQ(readWholeFile(sandbox / "link.json"), "[1, 2]") << "a link to a regular file is read";

    for (Special kind : allKinds) {
        SCOPED_TRACE(nameOf(kind));
        const fs::path path = sandbox / (std::string(nameOf(kind)) + ".json");
        makeSpecial(kind, path);
        try {
            readWholeFile(path);
            ADD_FAILURE() << "read a special file";
        } catch (const FileReadError& error) {
            EXPECT_EQ(error.error(), kind == Special::folder ? EISDIR : EINVAL);
            if (kind != Special::folder)
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
    for (Special kind : allKinds) {
        SCOPED_TRACE(nameOf(kind));
        const fs::path folder = sandbox / nameOf(kind);

        makeSpecial(kind, folder / "sync-config.json");
        EXPECT_ANY_THROW(SyncConfiguration::load(folder / "sync-config.json"));

        makeSpecial(kind, folder / "sync-runs.json");
        EXPECT_TRUE(SyncReportStore(folder / "sync-runs.json").allRuns().empty());

        makeSpecial(kind, folder / "bookmarks.json");
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
        makeSpecial(kind, run / "meta.json");
        auto listed = archive.list();
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].directory, real.directory);
        ArchivedLog special = real;
        special.directory = run;
        EXPECT_ANY_THROW(archive.setProject(special, std::string("Job")));
    }
}

TEST_F(SafeReadTest, ASpecialFileInPlaceOfTheFingerprintCacheIsSetAsideForAFreshOne) {
    for (Special kind : {Special::fifo, Special::folder}) {
        SCOPED_TRACE(nameOf(kind));
        const fs::path folder = sandbox / nameOf(kind);
        const fs::path cache = folder / "fingerprint-cache.db";
        makeSpecial(kind, cache);
        FingerprintIndex index(cache);
        EXPECT_EQ(index.stats().totalRows, 0);
        EXPECT_TRUE(fs::is_regular_file(cache));
        int aside = 0;
        for (const auto& entry : fs::directory_iterator(folder))
            aside += entry.path().filename().string().starts_with("fingerprint-cache.db.unreadable-");
        EXPECT_EQ(aside, 1);
    }
}
