// A user who may not open loop devices (the disk group's own) still proves a card with the
// copies in a disk image whose file lies elsewhere, found through the path the kernel shows
// every user; the copies in an image kept on the card are named as not counted, with the
// reason. Real loop-mounted volumes, proven as the unprivileged user nobody.

#include "Support/CardViews.hpp"
#include "Support/TestSandbox.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include "Tessaline/Matcher/OtherFile.hpp"

#include <gtest/gtest.h>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using testing::LoopVolume;

// Lets every user into the folder (the test folders are private).
void openToAll(const fs::path& folder) {
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
}

TEST(DiskImageProofTest, AUserWithoutTheLoopDeviceProvesWithAnImageElsewhereButNotWithOneOnTheCard) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume card("ext4", 64, "CARD_USER");
    // Kept where every user can trace it, whatever the machine's own disk is.
    testing::TempFolder folder;
    const auto memory = testing::mountMemoryFolder(folder.path() / "memory");
    LoopVolume elsewhere("ext4", 16, "ELSEWHERE", true, memory->target() / "elsewhere.img");
    fs::create_directories(card.mountPoint() / "System Volume Information");
    LoopVolume onCard("ext4", 16, "ON_CARD", true, card.mountPoint() / "System Volume Information/backup.img");
    for (const fs::path& folder : {card.mountPoint().parent_path(), elsewhere.mountPoint().parent_path(),
                                   onCard.mountPoint().parent_path()})
        openToAll(folder);
    const std::string bytes = "Scene 4, take 2 is the keeper.";
    for (const fs::path& root : {card.mountPoint(), elsewhere.mountPoint(), onCard.mountPoint()})
        testing::writeFile(root / "NOTES.TXT", bytes);
    const OtherFile note{card.mountPoint() / "NOTES.TXT", static_cast<int64_t>(bytes.size()), OtherFile::Role::other,
                         std::nullopt};
    auto onDrive = [&](const fs::path& path) {
        return MediaFile{path, MediaFile::Kind::other, static_cast<int64_t>(bytes.size())};
    };

    const std::string asUser = testing::runUnprivileged([&] {
        const MatchVerifier verifier(ChecksumEngine(), card.mountPoint());
        std::string outcome;
        for (const fs::path& copy : {elsewhere.mountPoint() / "NOTES.TXT", onCard.mountPoint() / "NOTES.TXT"}) {
            std::vector<UncountedCopy> uncounted;
            const auto out = verifier.verifyOtherFiles({note}, {onDrive(copy)}, [] { return false; }, {}, &uncounted);
            outcome += out.at(0).provenAt == copy ? "proven" : "only on card";
            for (const UncountedCopy& u : uncounted)
                outcome += ", not counted " + (u.path == copy ? std::string("there") : u.path.string()) + ": " +
                           ProofGround::reasonText(u.doubt);
            outcome += "\n";
        }
        return outcome;
    });
    EXPECT_EQ(asUser, "proven\nonly on card, not counted there: inside a disk image stored on the card\n");
}

}  // namespace
}  // namespace tessaline
