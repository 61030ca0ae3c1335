// The program's one writer of its own files: on a full volume it fails loudly and the file
// already under the name survives byte for byte; a new file never replaces anything.

#include "Tessaline/Support/AtomicFile.hpp"
#include "Tessaline/Support/FileErrors.hpp"

#include "Copy/FaultyCopyIO.hpp"
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

namespace {

// A name of exactly `bytes` bytes ending in ".txt", made of `unit` repeated (cut short with
// "x" where `unit` does not divide the room).
std::string nameOfBytes(size_t bytes, const std::string& unit) {
    std::string stem;
    while (stem.size() + unit.size() + 4 <= bytes) stem += unit;
    while (stem.size() + 4 < bytes) stem += "x";
    return stem + ".txt";
}

bool isWholeUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

}  // namespace

TEST_F(AtomicWriteTest, EveryNameTheFileSystemTakesIsWrittenAndNumberedWithinIt) {
    const fs::path folder = sandbox / "Exports";
    fs::create_directories(folder);
    for (const std::string& unit : {std::string("a"), std::string("\u30ab"), std::string("\U0001F3AC")}) {
        const std::string name = nameOfBytes(255, unit);
        SCOPED_TRACE(name);
        ASSERT_EQ(name.size(), 255u);
        writeFileAtomically(folder / name, "replaced");
        writeFileAtomically(folder / name, "whole");
        EXPECT_EQ(readFile(folder / name), "whole");

        fs::remove(folder / name);
        EXPECT_EQ(writeNewFileAtomically(folder, name, "first"), folder / name);
        const fs::path second = writeNewFileAtomically(folder, name, "second");
        const std::string secondName = second.filename().string();
        EXPECT_LE(secondName.size(), 255u);
        EXPECT_TRUE(isWholeUtf8(secondName)) << "the stem is cut at a character boundary";
        EXPECT_TRUE(secondName.ends_with(" 2.txt"));
        EXPECT_EQ(readFile(second), "second");
        EXPECT_EQ(readFile(folder / name), "first");
        EXPECT_TRUE(writeNewFileAtomically(folder, name, "third").filename().string().ends_with(" 3.txt"));
    }
    EXPECT_TRUE(hiddenEntries(folder).empty());

    // A name the file system refuses is an error that names it, never a silent loss.
    const std::string tooLong = nameOfBytes(256, "a");
    try {
        writeFileAtomically(folder / tooLong, "x");
        ADD_FAILURE() << "a 256-byte name reported success";
    } catch (const FileWriteError& error) {
        EXPECT_EQ(error.error(), ENAMETOOLONG);
    }
    EXPECT_THROW(writeNewFileAtomically(folder, tooLong, "x"), FileWriteError);
    EXPECT_TRUE(hiddenEntries(folder).empty());

    EXPECT_EQ(numberedFileName(nameOfBytes(255, "a"), 1000).size(), 255u);
    EXPECT_EQ(numberedFileName(std::string(300, 'a'), 2).size(), 255u);
    EXPECT_EQ(truncatedUtf8("\u00e9\u00e9", 3), "\u00e9");
}

TEST_F(AtomicWriteTest, AFailedFlushOfTheFileOrOfItsFolderIsAFailedWrite) {
    const fs::path folder = sandbox / "Exports";
    fs::create_directories(folder);
    writeFile(folder / "log.csv", "earlier");
    // The first fsync flushes the temporary file, the second the folder after the rename.
    for (int failAt : {1, 2}) {
        SCOPED_TRACE(failAt);
        tessaline::testing::FaultyIO io;
        io.failOp = tessaline::testing::fsyncOp;
        io.failAt = failAt;
        EXPECT_THROW(writeFileAtomically(folder / "log.csv", "later", io), FileWriteError);
        EXPECT_EQ(readFile(folder / "log.csv"), failAt == 1 ? "earlier" : "later");

        tessaline::testing::FaultyIO fresh;
        fresh.failOp = tessaline::testing::fsyncOp;
        fresh.failAt = failAt;
        EXPECT_THROW(writeNewFileAtomically(folder, "report.txt", "new", fresh), FileWriteError);
        EXPECT_FALSE(fs::exists(folder / "report.txt")) << "a new file whose name may not last is not left";
        EXPECT_TRUE(hiddenEntries(folder).empty());
        writeFile(folder / "log.csv", "earlier");
    }
}
