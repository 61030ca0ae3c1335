#include "ScanBenchData.hpp"

#include "BenchSupport.hpp"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

namespace fs = std::filesystem;

namespace {

std::string be32(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

void writePadded(const fs::path& from, const fs::path& to, int padding, bool quickTime) {
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    std::ofstream out(to, std::ios::binary | std::ios::app);
    if (quickTime) out << be32(uint32_t(8 + padding)) << "free";
    out << std::string(size_t(padding), '\0');
}

}  // namespace

ScanBenchData ensureScanBenchData(const fs::path& root, int count) {
    ScanBenchData data{root / "card", root / "drive"};
    const fs::path done = root / (".complete-" + std::to_string(count));
    if (fs::exists(done)) return data;
    fs::remove_all(root);
    const fs::path templates = root / "templates";
    fs::create_directories(templates);
    const fs::path jpg = templates / "t.JPG", mov = templates / "t.MOV";
    commandOutput({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=640x480",
                   "-frames:v", "1", "-f", "image2", jpg.string()});
    commandOutput({"exiftool", "-q", "-overwrite_original", "-DateTimeOriginal=2024:05:01 12:34:56", "-Make=Canon",
                   "-Model=EOS R5", jpg.string()});
    commandOutput({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                   "testsrc=size=320x240:rate=25", "-t", "1", "-c:v", "mpeg4", "-metadata",
                   "creation_time=2024-05-01T12:34:56Z", mov.string()});
    for (int i = 0; i < count; ++i) {
        const bool video = i % 3 == 2;
        char cardName[64], driveName[64];
        std::snprintf(cardName, sizeof cardName, "DCIM/%03dCANON/IMG_%04d.%s", 100 + i / 50, i, video ? "MOV" : "JPG");
        std::snprintf(driveName, sizeof driveName, "Shoot/Day%d/copy_%04d.%s", i / 500, i, video ? "mov" : "jpg");
        writePadded(video ? mov : jpg, data.card / cardName, i + 1, video);
        writePadded(video ? mov : jpg, data.drive / driveName, i + 1, video);
    }
    std::ofstream(done) << "";
    return data;
}

}  // namespace bench
