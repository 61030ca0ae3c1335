// Where a card's files are looked for first: the copy roots a proof reveals (a drive path that
// ends in the card file's place on the card, ASCII case ignored), the path a drive file shares
// with that place, and whether its date allows it to be a copy at all.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Matcher/CopyLeads.hpp"

#include <gtest/gtest.h>

using namespace tessaline;
using namespace tessaline::testing;
namespace fs = std::filesystem;

TEST(CopyLeadsTest, AProofAtTheCardsOwnLayoutRevealsARootForEveryOtherFolderOfTheCard) {
    CopyLeads leads(fs::path("/media/CARD/"));
    const auto place = leads.placeOf("/media/CARD/B001C001/B001C001_000007.DNG");
    EXPECT_TRUE(place.onCard);
    EXPECT_EQ(place.joined, "b001c001/b001c001_000007.dng");
    EXPECT_EQ(leads.placeOf("/elsewhere/F.DNG").joined, "f.dng") << "outside the card: its name alone";
    EXPECT_FALSE(leads.placeOf("/elsewhere/F.DNG").onCard);

    // Proven only under its name in a flattened folder: no root.
    EXPECT_FALSE(leads.noteProven(place, "/raid/Day61/b001c001_000007.dng"));
    EXPECT_EQ(leads.rootCount(), 0u);
    // Proven at its own layout (letters in another case): the rest is a root, noted once.
    EXPECT_TRUE(leads.noteProven(place, "/raid/Day61/B_CAM/Card1/b001C001/B001C001_000007.DNG"));
    EXPECT_FALSE(leads.noteProven(place, "/raid/Day61/B_CAM/Card1/b001C001/B001C001_000007.DNG"));
    ASSERT_EQ(leads.roots(), std::vector<std::string>{"/raid/Day61/B_CAM/Card1/"});

    // Another clip folder's frame is at that root plus its own place, whatever the case.
    const auto other = leads.placeOf("/media/CARD/B001C009/B001C009_000000.DNG");
    EXPECT_EQ(leads.rootOf(other, "/raid/day61/b_cam/card1/b001c009/b001c009_000000.dng"), 0u);
    EXPECT_EQ(leads.rootOf(other, "/raid/day60/b_cam/card1/b001c009/b001c009_000000.dng"), 1u) << "not at a root";
    EXPECT_EQ(leads.rootOf(other, "/raid/day61/b_cam/card1/b001c009/x/b001c009_000000.dng"), 1u);
    EXPECT_TRUE(leads.isUnderRoot("/raid/day61/b_cam/card1/misc/take.dng"));
    EXPECT_FALSE(leads.isUnderRoot("/raid/day61/b_cam/card10/b001c009/b001c009_000000.dng"));

    // A second backup becomes the first root once more files are proven there.
    EXPECT_TRUE(leads.noteProven(other, "/shuttle/Card11/B001C009/B001C009_000000.DNG"));
    EXPECT_EQ(leads.roots().front(), "/raid/Day61/B_CAM/Card1/");
    EXPECT_FALSE(leads.noteProven(place, "/shuttle/Card11/B001C001/B001C001_000007.DNG"));
    EXPECT_FALSE(leads.noteProven(other, "/shuttle/Card11/B001C009/B001C009_000000.DNG"));
    EXPECT_EQ(leads.roots().front(), "/shuttle/Card11/");

    // Roots handed on to a later proof come after its own, each once.
    CopyLeads later(fs::path("/media/CARD"));
    later.addRoots({"/raid/Day61/B_CAM/Card1/", "/raid/Day61/B_CAM/Card1/"});
    EXPECT_EQ(later.rootCount(), 1u);
    EXPECT_EQ(later.rootOf(later.placeOf("/media/CARD/MISC/DATA.BIN"), "/raid/day61/b_cam/card1/misc/data.bin"), 0u);
}

TEST(CopyLeadsTest, SharedPathAndDatesRankTheSameNamedFiles) {
    CopyLeads leads(fs::path("/media/CARD"));
    const auto place = leads.placeOf("/media/CARD/DCIM/100SEQ/F0001.JPG");
    EXPECT_EQ(CopyLeads::sharedTail(place, "/raid/day9/dcim/100seq/f0001.jpg"), 3u);
    EXPECT_EQ(CopyLeads::sharedTail(place, "/raid/day9/100seq/f0001.jpg"), 2u);
    EXPECT_EQ(CopyLeads::sharedTail(place, "/raid/day9/f0001.jpg"), 1u);
    EXPECT_EQ(CopyLeads::sharedTail(place, "f0001.jpg"), 1u);
    EXPECT_EQ(CopyLeads::sharedTail(place, "/raid/x100seq/f0001.jpg"), 1u) << "whole components only";

    const double shot = 1'700'000'000;
    EXPECT_EQ(CopyLeads::timeDoubt(shot, shot + 13 * 3600), 0) << "copied later";
    EXPECT_EQ(CopyLeads::timeDoubt(shot, shot), 0) << "the card's time kept";
    EXPECT_EQ(CopyLeads::timeDoubt(shot, shot - 2), 0) << "FAT's two seconds";
    EXPECT_EQ(CopyLeads::timeDoubt(shot, shot - 3), 2);
    EXPECT_EQ(CopyLeads::timeDoubt(shot, shot - 3 * 3600 + 1), 1) << "a zone shift";
    EXPECT_EQ(CopyLeads::timeDoubt(shot, shot - 14 * 3600), 1);
    EXPECT_EQ(CopyLeads::timeDoubt(shot, shot - 15 * 3600), 2) << "beyond any zone";
    EXPECT_EQ(CopyLeads::timeDoubt(shot, shot - (8 * 3600 + 600)), 2) << "yesterday's 23:00 copy of a 07:10 frame";
}
