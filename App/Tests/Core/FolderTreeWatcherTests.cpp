// The folder-tree watcher on real folders: a change anywhere below the root is reported (a
// file made, removed or overwritten in place), folders made after the listing are taken in
// by the next watch(), nothing comes after stop(), and a tree past the folder limit or gone
// is looked at on a timer.

#include "BrindlecoveApp/Platform/FolderTreeWatcher.hpp"

#include "Support/AppTestSandbox.hpp"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace brindlecove::testing {
namespace {

namespace fs = std::filesystem;
using tessaline::testing::writeFile;

class FolderTreeWatcherTest : public AppSandboxedTest {
protected:
    void SetUp() override {
        AppSandboxedTest::SetUp();
        writeFile(card() / "DCIM/100CANON/IMG_0000.JPG", "shot before");
        fs::create_directories(card() / "PRIVATE");
    }
    fs::path card() const { return sandbox.path() / "card"; }
    // Watches `root` and waits until its `folders` folders are watched.
    static bool watchAll(FolderTreeWatcher& watcher, const fs::path& root, qsizetype folders) {
        QSignalSpy armed(&watcher, &FolderTreeWatcher::armed);
        watcher.watch(qpath(root));
        return waitFor([&] { return armed.count() == 1; }) && watcher.watchedFolderCount() == folders;
    }
};

TEST_F(FolderTreeWatcherTest, ChangesAnywhereInTheTreeAreReportedUntilStop) {
    FolderTreeWatcher watcher;
    QSignalSpy changed(&watcher, &FolderTreeWatcher::changed);
    ASSERT_TRUE(watchAll(watcher, card(), 4));
    EXPECT_FALSE(watcher.isPolling());

    writeFile(card() / "DCIM/100CANON/IMG_0001.JPG", "new footage");
    ASSERT_TRUE(waitFor([&] { return changed.count() >= 1; }));
    // A file overwritten in place under its own name.
    changed.clear();
    writeFile(card() / "DCIM/100CANON/IMG_0000.JPG", "other footage, same name");
    ASSERT_TRUE(waitFor([&] { return changed.count() >= 1; }));

    // A folder made since the listing is seen being made; its own files once watch() listed
    // it again, which says when it is done.
    changed.clear();
    fs::create_directories(card() / "DCIM/101CANON");
    ASSERT_TRUE(waitFor([&] { return changed.count() >= 1; }));
    QSignalSpy armed(&watcher, &FolderTreeWatcher::armed);
    watcher.watch(qpath(card()));
    ASSERT_TRUE(waitFor([&] { return armed.count() == 1; }));
    EXPECT_EQ(watcher.watchedFolderCount(), 5);
    changed.clear();
    writeFile(card() / "DCIM/101CANON/IMG_0002.JPG", "new footage in a new folder");
    ASSERT_TRUE(waitFor([&] { return changed.count() >= 1; }));

    watcher.stop();
    EXPECT_EQ(watcher.watchedFolderCount(), 0);
    changed.clear();
    writeFile(card() / "PRIVATE/after.txt", "unseen");
    QTest::qWait(FolderTreeWatcher::quietMs * 3);
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(FolderTreeWatcherTest, ATreePastTheFolderLimitIsLookedAtOnATimer) {
    FolderTreeWatcher watcher(2);
    ASSERT_TRUE(watchAll(watcher, card(), 2));
    EXPECT_TRUE(watcher.isPolling());
    QSignalSpy changed(&watcher, &FolderTreeWatcher::changed);
    ASSERT_TRUE(changed.wait(FolderTreeWatcher::pollMs * 3)) << "the timer reports a possible change";
    watcher.stop();
    EXPECT_FALSE(watcher.isPolling());

    // A root that is gone (a card pulled meanwhile) is watched by the timer alone.
    ASSERT_TRUE(watchAll(watcher, sandbox.path() / "gone", 0));
    EXPECT_TRUE(watcher.isPolling());
}

}  // namespace
}  // namespace brindlecove::testing
