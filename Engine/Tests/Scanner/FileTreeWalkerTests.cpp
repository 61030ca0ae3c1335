// The card walk never leaves the card through a folder swapped for a link while it walks:
// every folder is reached from the root without following a link on the way.

#include "Tessaline/Scanner/FileTreeWalker.hpp"

#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using testing::writeFile;

class FileTreeWalkerTest : public testing::SandboxedTest {};

}  // namespace

TEST_F(FileTreeWalkerTest, AFolderSwappedForALinkWhileTheWalkGoesIsNeverEntered) {
    const fs::path card = sandbox / "CARD";
    writeFile(card / "A/first.MP4", "on the card");
    writeFile(card / "A/B/C/deep.MP4", "on the card");
    writeFile(card / "A/B/second.MP4", "on the card");
    // Elsewhere on the same device, shaped like the card's folder.
    writeFile(sandbox / "outside/B/secret.MOV", "not on the card");
    writeFile(sandbox / "outside/B/C/secret.MOV", "not on the card");

    // Once the walk has listed A (and queued A/B), A is swapped for a link to the other folder.
    bool swapped = false;
    std::vector<std::string> seen;
    const auto unreadable = FileTreeWalker::walk(card, {}, [&](const FileTreeWalker::File& file) {
        seen.emplace_back(file.relative);
        if (!swapped && file.relative == "A/first.MP4") {
            fs::rename(card / "A", sandbox / "A.moved");
            fs::create_directory_symlink(sandbox / "outside", card / "A");
            swapped = true;
        }
    });
    ASSERT_TRUE(swapped);
    EXPECT_EQ(seen, std::vector<std::string>{"A/first.MP4"});
    EXPECT_TRUE(unreadable.empty()) << "a folder gone from the card is no folder the erase cannot read";
}

}  // namespace tessaline
