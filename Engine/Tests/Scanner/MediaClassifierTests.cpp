#include "Tessaline/Scanner/FolderScanner.hpp"
#include "Tessaline/Scanner/MediaClassifier.hpp"

#include <gtest/gtest.h>

using tessaline::FolderScanner;
using tessaline::MediaClassifier;

TEST(MediaClassifier, SortsByLowerCasedExtension) {
    EXPECT_TRUE(MediaClassifier::isVideo("/card/clip.MOV"));
    EXPECT_TRUE(MediaClassifier::isVideo("/card/A001.braw"));
    EXPECT_TRUE(MediaClassifier::isAudio("/card/take.WAV"));
    EXPECT_FALSE(MediaClassifier::isPhoto("/card/clip.MOV"));
    EXPECT_FALSE(MediaClassifier::isPhoto("/card/take.WAV"));
    EXPECT_TRUE(MediaClassifier::isPhoto("/card/clip.txt"));
    EXPECT_TRUE(MediaClassifier::isPhoto("/card/NOEXTENSION"));
    EXPECT_TRUE(MediaClassifier::isPhoto("/card/movie.mov.jpg"));
    // The extension is taken from the last component only.
    EXPECT_TRUE(MediaClassifier::isPhoto("/card/clip.mov/README"));
}

TEST(MediaClassifier, ListSizesAndDisjointness) {
    EXPECT_EQ(MediaClassifier::videoExtensions().size(), 17u);
    EXPECT_EQ(MediaClassifier::audioExtensions().size(), 9u);
    FolderScanner scanner;
    EXPECT_EQ(FolderScanner::mediaExtensions().size(), 56u);
    EXPECT_EQ(scanner.sidecarExtensions().size(), 10u);
    EXPECT_EQ(scanner.junkExtensions().size(), 6u);
    EXPECT_EQ(scanner.junkFilenames().size(), 5u);
    EXPECT_EQ(scanner.junkDirectories().size(), 10u);  // the nine camera and system names plus lost+found
    for (const auto& e : scanner.sidecarExtensions()) EXPECT_EQ(FolderScanner::mediaExtensions().count(e), 0u) << e;
    for (const auto& e : MediaClassifier::videoExtensions()) EXPECT_EQ(FolderScanner::mediaExtensions().count(e), 1u);
    for (const auto& e : MediaClassifier::audioExtensions()) EXPECT_EQ(FolderScanner::mediaExtensions().count(e), 1u);
}
