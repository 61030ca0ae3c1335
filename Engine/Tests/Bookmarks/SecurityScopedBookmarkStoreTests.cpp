// The access-grant store on real files and loop-mounted drives: the file form, labels,
// stale refresh, "not granted" for unmounted drives, concurrent writers, damaged files.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Support/Base64.hpp"
#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Volumes/VolumeLabel.hpp"

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <thread>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using testing::LoopVolume;
using testing::readFile;
using testing::runCommand;
using testing::writeFile;

class BookmarkStoreTests : public testing::SandboxedTest {
protected:
    fs::path storeFile() const { return sandbox / "support/bookmarks.json"; }
    SecurityScopedBookmarkStore store() const { return SecurityScopedBookmarkStore(storeFile()); }
    fs::path folder(const std::string& name) const {
        fs::create_directories(sandbox / name);
        return sandbox / name;
    }
    // The label a folder on the (possibly unlabeled) system disk is filed under.
    std::string labelOf(const fs::path& path) const { return volumeLabel(path).value_or(lastComponent(path)); }
    std::vector<std::string> asideFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(storeFile().parent_path()))
            if (entry.path().filename().string().find(".unreadable-") != std::string::npos)
                names.push_back(entry.path().string());
        return names;
    }
};

TEST_F(BookmarkStoreTests, FileFormatIsCompactLabelFirstWithEscapedSlashes) {
    auto grants = store();
    grants.grant(folder("Footage"));
    std::string text = readFile(storeFile());
    EXPECT_EQ(text.rfind("[{\"label\":\"", 0), 0u) << text;
    EXPECT_LT(text.find("\"label\""), text.find("\"bookmark\""));
    EXPECT_EQ(text.find('\n'), std::string::npos);
    for (size_t at = text.find('/'); at != std::string::npos; at = text.find('/', at + 1))
        EXPECT_EQ(text[at - 1], '\\') << text;
    auto array = nlohmann::json::parse(text);
    ASSERT_EQ(array.size(), 1u);
    EXPECT_TRUE(base64Decoded(array[0]["bookmark"].get<std::string>()));
}

TEST_F(BookmarkStoreTests, ASecondViewOfAVolumeIsNamedAsSuchAndLeavesTheVolumesOwnGrant) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 32, "CARD_A");
    fs::create_directories(card.mountPoint() / "DCIM");
    testing::ScopedMount bind({"--bind", card.mountPoint().string()}, sandbox / "bind");
    testing::ScopedMount second({card.device()}, sandbox / "second");
    auto grants = store();
    grants.grant(card.mountPoint());
    grants.grant(sandbox / "bind/DCIM");
    grants.grant(sandbox / "second");
    EXPECT_EQ(grants.grantedVolumeLabels(),
              (std::vector<std::string>{"CARD_A", "CARD_A (second view at " + (sandbox / "bind").string() + ")",
                                        "CARD_A (second view at " + (sandbox / "second").string() + ")"}));
    // Each grant leads where it was given.
    EXPECT_EQ(grants.withAccess("CARD_A", [](const fs::path& root) { return root; }), card.mountPoint());
}

TEST_F(BookmarkStoreTests, RegrantMovesTheLabelLastAndKeepsOneEntry) {
    auto grants = store();
    fs::path a = folder("CardA"), b = folder("CardB");
    grants.grant(a);
    grants.grant(b);
    grants.grant(a);
    std::vector<std::string> expected = {labelOf(b), labelOf(a)};
    if (expected[0] == expected[1]) expected = {labelOf(a)};  // a labeled system disk files both under one name
    EXPECT_EQ(grants.grantedVolumeLabels(), expected);
}

TEST_F(BookmarkStoreTests, MissingOrCorruptFileListsNothingAndIsLeftAlone) {
    EXPECT_TRUE(store().grantedVolumeLabels().empty());
    EXPECT_FALSE(fs::exists(storeFile()));
    writeFile(storeFile(), "{not json");
    EXPECT_TRUE(store().grantedVolumeLabels().empty());
    EXPECT_EQ(readFile(storeFile()), "{not json");
}

TEST_F(BookmarkStoreTests, RevokeAlwaysWrites) {
    store().revoke("NOTHING");
    EXPECT_EQ(readFile(storeFile()), "[]");
    auto grants = store();
    grants.grant(folder("Keep"));
    std::string before = readFile(storeFile());
    grants.revoke("NOT_THERE");
    EXPECT_EQ(readFile(storeFile()), before);
    grants.revoke(labelOf(sandbox / "Keep"));
    EXPECT_EQ(readFile(storeFile()), "[]");
}

TEST_F(BookmarkStoreTests, NeverGrantedLabelThrowsWithoutRunningTheOperation) {
    bool ran = false;
    try {
        store().withAccess("EOS_DIGITAL", [&](const fs::path&) { ran = true; });
        FAIL() << "no error";
    } catch (const BookmarkError& error) {
        EXPECT_EQ(error.kind(), BookmarkError::Kind::notGranted);
        EXPECT_EQ(error.label(), "EOS_DIGITAL");
        EXPECT_STREQ(error.what(), "No granted access for volume \"EOS_DIGITAL\" \u2014 grant it first.");
    }
    EXPECT_FALSE(ran);
}

TEST_F(BookmarkStoreTests, OperationResultAndErrorsPassThrough) {
    auto grants = store();
    fs::path target = folder("Proj");
    grants.grant(target);
    std::string label = labelOf(target);
    EXPECT_EQ(grants.withAccess(label, [](const fs::path& p) { return p; }), target);
    EXPECT_THROW(grants.withAccess(label, [](const fs::path&) -> int { throw std::logic_error("op failed"); }),
                 std::logic_error);
    EXPECT_EQ(grants.withAccessAsync(label, [](const fs::path& p) { return p.string(); }).get(), target.string());
}

TEST_F(BookmarkStoreTests, DefaultFileLivesInTheDataFolder) {
    const char* old = std::getenv("XDG_DATA_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", sandbox.path().c_str(), 1);
    fs::path expected = sandbox / "Brindlecove/bookmarks.json";
    EXPECT_EQ(SecurityScopedBookmarkStore::defaultStoreURL(), expected);
    EXPECT_EQ(SecurityScopedBookmarkStore().storeURL(), expected);
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

TEST_F(BookmarkStoreTests, CorruptFileIsKeptAsideBeforeTheNextGrant) {
    writeFile(storeFile(), "\x01garbage");
    auto grants = store();
    grants.grant(folder("New"));
    auto aside = asideFiles();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readFile(aside[0]), "\x01garbage");
    EXPECT_EQ(grants.grantedVolumeLabels(), std::vector<std::string>{labelOf(sandbox / "New")});
}

TEST_F(BookmarkStoreTests, OneBadEntryNeitherHidesNorLosesTheOthers) {
    auto grants = store();
    grants.grant(folder("Good"));
    std::string good = readFile(storeFile());
    std::string damaged = "[{\"label\":\"Broken\",\"bookmark\":\"***\"}," + good.substr(1);
    writeFile(storeFile(), damaged);
    EXPECT_EQ(grants.grantedVolumeLabels(), std::vector<std::string>{labelOf(sandbox / "Good")});
    EXPECT_NO_THROW(grants.withAccess(labelOf(sandbox / "Good"), [](const fs::path&) {}));
    grants.revoke("Other");
    EXPECT_EQ(readFile(storeFile()), good);
    auto aside = asideFiles();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readFile(aside[0]), damaged);
}

TEST_F(BookmarkStoreTests, ConcurrentThreadsAndProcessesLoseNoGrant) {
    constexpr int processes = 3, threads = 4, rounds = 5;
    std::set<std::string> expected;
    for (int p = 0; p <= processes; ++p)
        for (int t = 0; t < threads; ++t)
            for (int r = 0; r < rounds; ++r) expected.insert(lastComponent(folder("g" + std::to_string(p) + "_" +
                                                                                 std::to_string(t) + "_" +
                                                                                 std::to_string(r))));
    if (volumeLabel(sandbox.path())) GTEST_SKIP() << "the system disk has a label: every folder shares it";
    auto grantAll = [&](int p) {
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&, p, t] {
                for (int r = 0; r < rounds; ++r)
                    SecurityScopedBookmarkStore(storeFile())
                        .grant(sandbox / ("g" + std::to_string(p) + "_" + std::to_string(t) + "_" + std::to_string(r)));
            });
        for (auto& worker : workers) worker.join();
    };
    std::vector<pid_t> children;
    for (int p = 1; p <= processes; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                grantAll(p);
            } catch (...) {
                _exit(1);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    grantAll(0);
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto labels = store().grantedVolumeLabels();
    EXPECT_EQ(std::set<std::string>(labels.begin(), labels.end()), expected);
    EXPECT_EQ(labels.size(), expected.size());
}

TEST_F(BookmarkStoreTests, DriveGrantFollowsRemountAndIsNotGrantedWhileUnmounted) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 32, "RAID_A");
    fs::create_directories(drive.mountPoint() / "Backups/Job1");
    fs::create_directories(drive.mountPoint() / "Other");
    auto grants = store();
    grants.grant(drive.mountPoint() / "Other");
    grants.grant(drive.mountPoint() / "Backups/Job1");  // same volume: replaces the first
    EXPECT_EQ(grants.grantedVolumeLabels(), std::vector<std::string>{"RAID_A"});
    EXPECT_EQ(grants.withAccess("RAID_A", [](const fs::path& p) { return p; }), drive.mountPoint() / "Backups/Job1");

    drive.unmount();
    fs::create_directories(drive.mountPoint() / "Backups/Job1");  // a leftover on the internal disk
    bool ran = false;
    EXPECT_THROW(grants.withAccess("RAID_A", [&](const fs::path&) { ran = true; }), BookmarkError);
    EXPECT_FALSE(ran);
    fs::remove_all(drive.mountPoint() / "Backups");

    fs::path elsewhere = sandbox / "RAID_A1";
    fs::create_directories(elsewhere);
    ASSERT_EQ(runCommand({"mount", "-t", "ext4", drive.device(), elsewhere.string()}).exitCode, 0);
    std::string before = readFile(storeFile());
    fs::path seen;
    EXPECT_NO_THROW(seen = grants.withAccess("RAID_A", [](const fs::path& p) { return p; }));
    std::string after = readFile(storeFile());
    runCommand({"umount", elsewhere.string()});
    EXPECT_EQ(seen, elsewhere / "Backups/Job1");
    // The stale grant was re-made for the new place, under the same label.
    EXPECT_NE(after, before);
    auto entry = nlohmann::json::parse(after).at(0);
    EXPECT_EQ(entry["label"], "RAID_A");
    std::string data = *base64Decoded(entry["bookmark"].get<std::string>());
    EXPECT_NE(data.find(elsewhere.string()), std::string::npos) << data;
}

TEST_F(BookmarkStoreTests, ExfatCardIsFiledUnderItsLabel) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("exfat", 32, "EOS_DIGITAL");
    fs::create_directories(card.mountPoint() / "DCIM");
    auto grants = store();
    grants.grant(card.mountPoint() / "DCIM");
    EXPECT_EQ(grants.grantedVolumeLabels(), std::vector<std::string>{"EOS_DIGITAL"});
    EXPECT_EQ(grants.withAccess("EOS_DIGITAL", [](const fs::path& p) { return p; }), card.mountPoint() / "DCIM");
}

}  // namespace
}  // namespace tessaline
