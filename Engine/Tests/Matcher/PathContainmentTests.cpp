// Whether a path lies at or below a folder: the test the verifier and matcher use to keep
// the card's own files from proving anything.

#include "Tessaline/Support/PathText.hpp"

#include <gtest/gtest.h>

namespace tessaline {
namespace {

TEST(PathContainmentTest, ComparesWholeComponents) {
    // {child, folder, expected}
    const struct {
        const char* child;
        const char* folder;
        bool below;
    } cases[] = {
        {"/media/card", "/media/card", true},
        {"/media/card/DCIM/IMG_0001.JPG", "/media/card", true},
        {"/media/cardboard/IMG_0001.JPG", "/media/card", false},
        {"/media/car", "/media/card", false},
        {"/media", "/media/card", false},
        {"/anything/at/all", "/", true},
        {"/", "/", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isSameOrBelowNormalized(c.child, c.folder), c.below) << c.child << " in " << c.folder;
        EXPECT_EQ(isSameOrBelow(c.child, c.folder), c.below) << c.child << " in " << c.folder;
    }
}

TEST(PathContainmentTest, NormalisesOnlyWhereAskedTo) {
    EXPECT_TRUE(isSameOrBelow("/media/card/../card//DCIM/", "/media/card/"));
    EXPECT_FALSE(isSameOrBelow("/media/card/../other/x", "/media/card"));
    // The normalised form's caller promises normal paths: a trailing slash is not one.
    EXPECT_FALSE(isSameOrBelowNormalized("/media/card/", "/media/card/x"));
}

}  // namespace
}  // namespace tessaline
