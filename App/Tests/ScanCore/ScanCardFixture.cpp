#include "ScanCardFixture.hpp"

#include "ScanTestMedia.hpp"

namespace brindlecove::testing {

namespace fs = std::filesystem;

void ScanCardFixture::writeCard(const fs::path& card) {
    for (int i : {1, 2, 3, 6, 7}) {
        const std::string n = std::to_string(i);
        writeDistinctMedia(TestMedia::jpeg, card / ("DCIM/10" + n + "CANON/IMG_000" + n + ".JPG"), i * 10);
    }
    writeDistinctMedia(TestMedia::video, card / "PRIVATE/M4ROOT/CLIP/C0001.MOV", 8);
    writeDistinctMedia(TestMedia::audio, card / "AUDIO/SND0001.M4A", 8);
}

void ScanCardFixture::writeDrive(const fs::path& drive) {
    for (int i : {1, 2, 3}) {
        const std::string n = std::to_string(i);
        writeDistinctMedia(TestMedia::jpeg, drive / ("Shoot/Day1/renamed_" + n + ".jpg"), i * 10);
    }
    writeDistinctMedia(TestMedia::jpeg, drive / "Shoot/Day1/IMG_0007.JPG", 71);
    writeDistinctMedia(TestMedia::video, drive / "Shoot/Video/A001.MOV", 8);
    writeDistinctMedia(TestMedia::audio, drive / "Shoot/Sound/take1.m4a", 8);
}

}  // namespace brindlecove::testing
