// The log archive on a drive that others can write to: links planted where a day or run
// folder should be are never entered, deleting only ever removes the folder that was listed,
// and a meta file cannot point the primary file outside its run folder.

#include "Tessaline/Report/LogArchive.hpp"
#include "Tessaline/Report/LogMeta.hpp"
#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/JsonText.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <thread>

using namespace tessaline;
using tessaline::testing::readFile;
using tessaline::testing::SandboxedTest;
using tessaline::testing::writeFile;
namespace fs = std::filesystem;

namespace {

LogMeta copyMeta() {
    LogMeta meta;
    meta.title = "SHUTTLE";
    meta.subtitle = "CARD → SHUTTLE";
    meta.summary = "1 verified · 0 present · 0 failed";
    meta.counts = {{"verified", 1}, {"present", 0}, {"unverified", 0}, {"failed", 0}};
    return meta;
}

class LogArchiveLinkTest : public SandboxedTest {
protected:
    LogArchive archive{sandbox / "Drive/Brindlecove Logs"};
    // Stands for the user's home: nothing in it may change.
    fs::path home = sandbox / "home";

    void SetUp() override {
        fs::create_directories(home / "Documents");
        writeFile(home / "Documents/thesis.txt", "years of work");
    }

    ArchivedLog file(EpochSeconds at) {
        return archive.fileRun(LogKind::transfer, at, std::nullopt, copyMeta(),
                               [](const fs::path& folder, const std::string& stem) {
                                   writeFile(folder / (stem + ".pdf"), "pdf");
                               });
    }
    // The primary file the listing gives once the log's meta file names `name`.
    fs::path listedPrimaryNamed(const ArchivedLog& log, const std::string& original, const std::string& name) {
        auto json = nlohmann::json::parse(original);
        json["primaryFileName"] = name;
        writeFile(log.directory / "meta.json", json.dump());
        auto listed = archive.list();
        EXPECT_EQ(listed.size(), 1u);
        return listed.empty() ? fs::path("unlisted") : listed[0].primaryFile;
    }
    std::vector<std::string> homeEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(home)) names.push_back(entry.path().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

const EpochSeconds kAt = epochFromUtc(2025, 3, 7, 12, 0, 0);

}  // namespace

TEST_F(LogArchiveLinkTest, DeleteRefusesAFolderSwappedInAfterListingAndTheCanarySurvives) {
    const ArchivedLog log = file(kAt);
    auto listed = archive.list();
    ASSERT_EQ(listed.size(), 1u);
    ASSERT_EQ(listed[0].directory, log.directory);
    EXPECT_EQ(listed[0].folderInode, log.folderInode);

    // The day folder becomes a link to the home folder, which holds a folder of the run's name.
    const fs::path day = log.directory.parent_path();
    fs::rename(day, sandbox / "moved-day");
    fs::create_directory_symlink(home, day);
    fs::create_directories(home / log.directory.filename());
    writeFile(home / log.directory.filename() / "canary", "keep");
    const auto before = homeEntries();
    EXPECT_THROW(archive.deleteLog(listed[0]), LogChangedError);
    EXPECT_THROW(archive.setProject(listed[0], std::string("Job")), LogChangedError);
    EXPECT_EQ(homeEntries(), before);
    EXPECT_EQ(readFile(home / log.directory.filename() / "canary"), "keep");

    // A real day folder back, but the run folder replaced by another one of the same name.
    fs::remove(day);
    fs::create_directories(log.directory);
    writeFile(log.directory / "meta.json", "{}");
    try {
        archive.deleteLog(listed[0]);
        ADD_FAILURE() << "a replaced run folder was deleted";
    } catch (const LogChangedError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "The log at " + log.directory.string() + " has changed since it was listed, so it was left as it is.");
    }
    EXPECT_TRUE(fs::exists(log.directory / "meta.json"));
}

// The run folder swapped for another folder at the very moment the delete opens it, after the
// name led to the listed folder (the open is held by a permission event, as root): the folder
// swapped in keeps everything, and what is removed is only the listed folder's own.
TEST_F(LogArchiveLinkTest, ARunFolderSwappedWhileTheDeleteOpensItLeavesTheFolderSwappedIn) {
    TESSALINE_REQUIRE_ROOT();
    const ArchivedLog log = file(kAt);
    const ArchivedLog listed = archive.list().at(0);
    const int notify = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY);
    ASSERT_GE(notify, 0) << "fanotify: " << std::strerror(errno);
    ASSERT_EQ(::fanotify_mark(notify, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_ONDIR, AT_FDCWD, log.directory.c_str()), 0)
        << std::strerror(errno);
    bool swapped = false;
    std::thread swapper([&] {
        pollfd waiting{notify, POLLIN, 0};
        fanotify_event_metadata event{};
        if (::poll(&waiting, 1, 60'000) != 1 || ::read(notify, &event, sizeof event) < ssize_t(sizeof event)) return;
        fs::rename(log.directory, sandbox / "moved-run");
        fs::rename(home / "Documents", log.directory);
        swapped = true;
        fanotify_response allow{event.fd, FAN_ALLOW};
        EXPECT_EQ(::write(notify, &allow, sizeof allow), ssize_t(sizeof allow));
        ::close(event.fd);
    });
    try {
        archive.deleteLog(listed);
    } catch (const std::exception& error) {
        std::cout << error.what() << "\n";
    }
    swapper.join();
    ::close(notify);
    ASSERT_TRUE(swapped);
    EXPECT_EQ(readFile(log.directory / "thesis.txt"), "years of work");
    EXPECT_FALSE(fs::exists(sandbox / "moved-run" / "meta.json"));
}

TEST_F(LogArchiveLinkTest, AnUnchangedLogIsMovedAndDeletedThroughItsHandles) {
    const ArchivedLog log = file(kAt);
    archive.setProject(archive.list().at(0), std::string("Feature"));
    const ArchivedLog moved = archive.list().at(0);
    EXPECT_EQ(moved.project, std::optional<std::string>("Feature"));
    archive.deleteLog(moved);
    EXPECT_FALSE(fs::exists(log.directory));
    EXPECT_TRUE(fs::exists(log.directory.parent_path()));
    EXPECT_TRUE(archive.list().empty());
    // A log that is already gone has changed too.
    EXPECT_THROW(archive.deleteLog(moved), LogChangedError);
}

TEST_F(LogArchiveLinkTest, ADayLinkIsNeverEnteredAndTheLogIsFiledAndListedInAFreshDay) {
    const std::string dayName = localDayStamp(kAt);
    fs::create_directories(archive.baseDirectory());
    fs::create_directory_symlink(home, archive.baseDirectory() / dayName);
    const auto before = homeEntries();

    const ArchivedLog log = file(kAt);
    EXPECT_EQ(homeEntries(), before) << "the link's target received nothing";
    EXPECT_EQ(log.directory, archive.baseDirectory() / (dayName + "-2") / ("transfer-" + localTimeStamp(kAt)));
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(log.directory.parent_path())));
    auto listed = archive.list();
    ASSERT_EQ(listed.size(), 1u) << "the link is skipped, the real day listed";
    EXPECT_EQ(listed[0].directory, log.directory);
    EXPECT_EQ(listed[0].files, std::vector<fs::path>{log.directory / ("transfer-" + localTimeStamp(kAt) + ".pdf")});

    // A run folder of the archive that is a link is not listed either.
    fs::create_directories(home / "transfer-010101");
    writeFile(home / "transfer-010101/meta.json", jsonText(copyMeta().toJson(), 2));
    fs::create_directory_symlink(home / "transfer-010101", log.directory.parent_path() / "transfer-010101");
    EXPECT_EQ(archive.list().size(), 1u);
}

TEST_F(LogArchiveLinkTest, ABaseFolderThatIsALinkIsRefusedAndItsTargetUntouched) {
    fs::create_directories(archive.baseDirectory().parent_path());
    fs::create_directory_symlink(home, archive.baseDirectory());
    const auto before = homeEntries();
    try {
        file(kAt);
        ADD_FAILURE() << "a log was filed through a link";
    } catch (const LogFolderError& error) {
        EXPECT_EQ(std::string(error.what()), "Logs can't be saved in " + archive.baseDirectory().string() +
                                                 ": it is a link, and logs are never filed through one.");
    }
    EXPECT_EQ(homeEntries(), before);
    EXPECT_TRUE(archive.list().empty());
}

TEST_F(LogArchiveLinkTest, APrimaryFileNameThatIsNoSingleNameListsTheLogWithoutOne) {
    const ArchivedLog log = file(kAt);
    const std::string original = readFile(log.directory / "meta.json");
    for (const std::string& name : {std::string("/etc/passwd"), std::string("../../x"), std::string(".."),
                                    std::string("."), std::string(""), std::string("a/b.pdf")}) {
        EXPECT_TRUE(listedPrimaryNamed(log, original, name).empty()) << name;
    }
    writeFile(log.directory / "meta.json", original);
    EXPECT_EQ(archive.list().at(0).primaryFile, log.primaryFile);
    EXPECT_EQ(log.primaryFile.parent_path(), log.directory);
}

// Open hands the primary file to the desktop, which launches what its type says: a meta file
// on a shared drive must not make that a launcher or a script, nor a link to anything.
TEST_F(LogArchiveLinkTest, OnlyAPdfStandingInTheRunFolderIsThePrimaryFile) {
    const ArchivedLog log = file(kAt);
    const std::string original = readFile(log.directory / "meta.json");
    writeFile(log.directory / "run.desktop", "[Desktop Entry]\nType=Application\nExec=sh -c 'rm -rf ~'\n");
    fs::permissions(log.directory / "run.desktop", fs::perms::owner_all);
    writeFile(log.directory / "run.sh", "#!/bin/sh\n");
    writeFile(home / "elsewhere.pdf", "%PDF-");
    fs::create_symlink(home / "elsewhere.pdf", log.directory / "linked.pdf");
    fs::create_symlink(home / "Documents/thesis.txt", log.directory / "thesis.pdf");
    fs::create_directory(log.directory / "folder.pdf");
    for (const std::string& name : {std::string("run.desktop"), std::string("run.sh"), std::string("linked.pdf"),
                                    std::string("thesis.pdf"), std::string("folder.pdf"), std::string("gone.pdf")}) {
        EXPECT_TRUE(listedPrimaryNamed(log, original, name).empty()) << name;
    }
    // A PDF of its own, in any case of its extension, is opened.
    writeFile(log.directory / "Copy.PDF", "%PDF-");
    EXPECT_EQ(listedPrimaryNamed(log, original, "Copy.PDF"), log.directory / "Copy.PDF");
}

TEST_F(LogArchiveLinkTest, AMetaFileThatIsALinkMakesNoLogAndNothingIsWrittenThroughIt) {
    const ArchivedLog log = file(kAt);
    const ArchivedLog listed = archive.list().at(0);
    // Someone with write access to the drive puts a link to another JSON file in its place.
    auto json = nlohmann::json::parse(readFile(log.directory / "meta.json"));
    json["title"] = "NOT A LOG";
    const std::string outside = json.dump();
    writeFile(home / "Documents/settings.json", outside);
    fs::remove(log.directory / "meta.json");
    fs::create_symlink(home / "Documents/settings.json", log.directory / "meta.json");

    EXPECT_TRUE(archive.list().empty()) << "a link in the meta file's place is no log, as a missing one is";
    EXPECT_THROW(archive.setProject(listed, std::string("Feature")), FileReadError);
    EXPECT_EQ(readFile(home / "Documents/settings.json"), outside);
    EXPECT_TRUE(fs::is_symlink(log.directory / "meta.json"));
}

TEST_F(LogArchiveLinkTest, ARunFolderHoldingAnotherMountIsKeptAndTheRefusalSaysWhy) {
    TESSALINE_REQUIRE_ROOT();
    const ArchivedLog log = file(kAt);
    const ArchivedLog listed = archive.list().at(0);
    tessaline::testing::ScopedMount held({"--bind", home.string()}, log.directory / "held");
    try {
        archive.deleteLog(listed);
        ADD_FAILURE() << "deleted a run folder holding a mount";
    } catch (const LogMountError& error) {
        EXPECT_EQ(std::string(error.what()), "The log at " + log.directory.string() +
                                                 " can't be deleted completely: another drive is mounted inside it, "
                                                 "and nothing on another drive is removed.");
    }
    held.unmount();
    EXPECT_TRUE(fs::exists(log.directory / "held"));
    EXPECT_EQ(readFile(home / "Documents/thesis.txt"), "years of work");
}
