// A FIFO, a socket, a folder or a device where the application expects one of its own files
// (settings and their lock, the autostart entry, a log's meta.json) never blocks the main
// thread: the application starts, and the file reads as absent. A hang here shows as the
// test program's time-out.

#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/Platform/LoginItem.hpp"
#include "BrindlecoveApp/Platform/UserDefaults.hpp"
#include "BrindlecoveApp/ViewModels/LogStore.hpp"

#include "Support/AppTestSandbox.hpp"

#include "Tessaline/Report/LogArchive.hpp"

#include <sys/stat.h>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;
using tessaline::testing::allSpecialFiles;
using tessaline::testing::makeSpecialFile;
using tessaline::testing::SpecialFile;
using tessaline::testing::specialFileName;
using tessaline::testing::writeFile;
namespace fs = std::filesystem;

class NonRegularFilesTests : public AppSandboxedTest {};

TEST_F(NonRegularFilesTests, SettingsInPlaceOfASpecialFileReadAsAbsentAndAreNotStored) {
    for (const char* suffix : {"", ".lock"}) {
        for (SpecialFile kind : allSpecialFiles) {
            SCOPED_TRACE(std::string(specialFileName(kind)) + " as Brindlecove.conf" + suffix);
            const fs::path folder = sandbox.path() / (std::string(specialFileName(kind)) + suffix);
            const UserDefaults defaults(qpath(folder / "Brindlecove.conf"));
            makeSpecialFile(kind, folder / (std::string("Brindlecove.conf") + suffix));
            defaults.setValue(QStringLiteral("Brindlecove.activeProject"), QStringLiteral("Shoot"));
            EXPECT_FALSE(defaults.contains(QStringLiteral("Brindlecove.activeProject")));
            EXPECT_FALSE(defaults.string(QStringLiteral("Brindlecove.activeProject")));
            defaults.remove(QStringLiteral("Brindlecove.activeProject"));
            struct stat st{};
            ASSERT_EQ(::stat((folder / (std::string("Brindlecove.conf") + suffix)).c_str(), &st), 0);
            EXPECT_FALSE(S_ISREG(st.st_mode)) << "left as it was";
        }
    }
    // A regular file is read and written as always.
    const UserDefaults plain(qpath(sandbox.path() / "plain" / "Brindlecove.conf"));
    plain.setValue(QStringLiteral("Brindlecove.activeProject"), QStringLiteral("Shoot"));
    EXPECT_EQ(plain.string(QStringLiteral("Brindlecove.activeProject")), QStringLiteral("Shoot"));
}

TEST_F(NonRegularFilesTests, AnAutostartEntryThatIsNoRegularFileMakesTheStatusUnavailable) {
    for (SpecialFile kind : allSpecialFiles) {
        SCOPED_TRACE(specialFileName(kind));
        const fs::path autostart = sandbox.path() / specialFileName(kind) / "autostart";
        makeSpecialFile(kind, autostart / "org.example.Brindle.desktop");
        LoginItem item(QStringLiteral("org.example.Brindle"), qpath(autostart), {}, qpath(sandbox.path() / "brindle"));
        EXPECT_EQ(item.status(), LoginItemStatus::unavailable);
    }
}

TEST_F(NonRegularFilesTests, TheLogStoreStartsAndListsTheRealLogsWhateverStandsInPlaceOfAMetaFile) {
    const tessaline::LogArchive archive = tessaline::LogArchive::defaultArchive();
    tessaline::LogMeta meta;
    meta.title = "A001";
    const tessaline::ArchivedLog real = archive.fileRun(tessaline::LogKind::verify, 1'700'000'000, std::nullopt, meta,
                                                        [](const fs::path&, const std::string&) {});
    for (SpecialFile kind : allSpecialFiles)
        makeSpecialFile(kind, real.directory.parent_path() / (std::string("verify-") + specialFileName(kind)) / "meta.json");
    LogArchiveProvider provider;
    LogStore store(provider);
    ASSERT_TRUE(waitFor([&] { return store.hasListed(); }, 60'000));
    ASSERT_EQ(store.logs().size(), 1u);
    EXPECT_EQ(store.logs()[0].directory, real.directory);
}
