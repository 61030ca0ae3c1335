// The program's one writer of its own files: on a full volume it fails loudly and the file
// already under the name survives byte for byte; a new file never replaces anything.

#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Support/FileErrors.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace tessaline;
using tessaline::testing::fillVolume;
using tessaline::testing::LoopVolume;
using tessaline::testing::readFile;
using tessaline::testing::SandboxedTest;
using tessaline::testing::writeFile;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> hiddenEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().front() == '.') names.push_back(entry.path().filename().string());
    return names;
}

class AtomicWriteTest : public SandboxedTest {};

}  // namespace

TEST_F(AtomicWriteTest, OnAFullVolumeEveryWriteFailsAndTheEarlierFileSurvivesByteForByte) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 8, "FULL");
    const fs::path folder = drive.mountPoint() / "Exports";
    fs::create_directories(folder);
    const std::string earlier = "status,filename\nconfirmed,A001.MOV\n";
    writeFile(folder / "Brindlecove Report.csv", earlier);
    fillVolume(drive.mountPoint());

    // Small enough to sit in a write buffer until the flush, and larger than any buffer.
    for (size_t size : {size_t{906}, size_t{3} << 20}) {
        SCOPED_TRACE(size);
        try {
            writeFileAtomically(folder / "Brindlecove Report.csv", std::string(size, 'n'));
            ADD_FAILURE() << "a write to a full volume reported success";
        } catch (const FileWriteError& error) {
            EXPECT_EQ(error.error(), ENOSPC);
            EXPECT_EQ(std::string(error.what()),
                      "Couldn't write " + (folder / "Brindlecove Report.csv").string() + ": No space left on device.");
        }
        EXPECT_EQ(readFile(folder / "Brindlecove Report.csv"), earlier);
        EXPECT_THROW(writeNewFileAtomically(folder, "Brindlecove Report.csv", std::string(size, 'n')), FileWriteError);
        EXPECT_TRUE(hiddenEntries(folder).empty()) << "no temporary file is left behind";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(AtomicWriteTest, ANewFileTakesTheFirstFreeNumberedNameAndNeverReplacesOne) {
    const fs::path folder = sandbox / "Reports";
    fs::create_directories(folder);
    const std::string name = "Brindlecove Report \u2014 CARD \u2014 2025-03-07 140509.txt";
    EXPECT_EQ(writeNewFileAtomically(folder, name, "first"), folder / name);
    EXPECT_EQ(writeNewFileAtomically(folder, name, "second"),
              folder / "Brindlecove Report \u2014 CARD \u2014 2025-03-07 140509 2.txt");
    // A name taken by anything at all is passed over: here a folder and a dangling link.
    fs::create_directories(folder / "Brindlecove Report \u2014 CARD \u2014 2025-03-07 140509 3.txt");
    fs::create_symlink(folder / "nowhere", folder / "Brindlecove Report \u2014 CARD \u2014 2025-03-07 140509 4.txt");
    EXPECT_EQ(writeNewFileAtomically(folder, name, "third"),
              folder / "Brindlecove Report \u2014 CARD \u2014 2025-03-07 140509 5.txt");
    EXPECT_EQ(readFile(folder / name), "first");
    EXPECT_EQ(readFile(folder / "Brindlecove Report \u2014 CARD \u2014 2025-03-07 140509 2.txt"), "second");
    EXPECT_EQ(readFile(folder / "Brindlecove Report \u2014 CARD \u2014 2025-03-07 140509 5.txt"), "third");
    EXPECT_FALSE(fs::exists(folder / "nowhere"));
    EXPECT_TRUE(hiddenEntries(folder).empty());

    EXPECT_EQ(numberedFileName("Report.txt", 1), "Report.txt");
    EXPECT_EQ(numberedFileName("Report.txt", 2), "Report 2.txt");
    EXPECT_EQ(numberedFileName("a.tar.gz", 3), "a.tar 3.gz");
    EXPECT_EQ(numberedFileName("README", 2), "README 2");
    EXPECT_EQ(numberedFileName(".profile", 2), ".profile 2");
    EXPECT_EQ(numberedFileName("notes.", 2), "notes. 2");
}
