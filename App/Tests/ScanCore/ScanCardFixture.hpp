#pragma once
// A card folder and a backup folder of real media for the scan tests:
//  card: seven clips, each photo in a folder of its own (no bursts), one video, one audio;
//  drive ("Backup"): renamed copies of five of them, plus a same-named but different
//  IMG_0007.JPG. So a scan gives 5 confirmed, 1 missing (IMG_0006) and 1 name mismatch.

#include <filesystem>

namespace brindlecove::testing {

struct ScanCardFixture {
    static constexpr int confirmed = 5;
    static constexpr int missing = 1;
    static constexpr int nameMismatches = 1;
    static constexpr int cardPhotos = 5;  // IMG_0001 … IMG_0003, IMG_0006, IMG_0007
    static constexpr int cardFiles = 7;

    // Writes the card's files under `card`.
    static void writeCard(const std::filesystem::path& card);
    // Writes the backups under `drive`.
    static void writeDrive(const std::filesystem::path& drive);
};

}  // namespace brindlecove::testing
