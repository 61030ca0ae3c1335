// Fingerprinting a generated 2,000-file card (500 each of JPEG, MOV, MP4 and WAV, in
// folders of 100) through the caching reader, one file after another as a scan does.
//   RATIO fingerprint_cold: an empty cache against `exiftool -fast2 -j -r` over the same
//                           tree (our speed over exiftool's; target at least 5).
//   RATIO fingerprint_warm: the same tree with the cache full against the cold run
//                           (warm speed over cold speed; target at least 20).

#include "BenchSupport.hpp"
#include "Tessaline/Index/FingerprintIndex.hpp"
#include "Tessaline/MetadataReader/CachingMetadataReader.hpp"
#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr int filesPerKind = 500;

std::vector<fs::path> ensureTree(const fs::path& root) {
    fs::path templates = root / "templates";
    fs::path done = root / ".complete";
    const char* kinds[] = {"JPG", "MOV", "MP4", "WAV"};
    std::vector<fs::path> files;
    for (int i = 0; i < filesPerKind * 4; ++i) {
        char name[48];
        std::snprintf(name, sizeof name, "%03dCARD/CLIP%04d.%s", 100 + i / 100, i, kinds[i % 4]);
        files.push_back(root / "DCIM" / name);
    }
    if (fs::exists(done)) return files;
    fs::remove_all(root);
    fs::create_directories(templates);
    auto ffmpeg = [](std::vector<std::string> args) {
        args.insert(args.begin(), {"ffmpeg", "-nostdin", "-loglevel", "error", "-y"});
        bench::commandOutput(args);
    };
    fs::path jpg = templates / "t.JPG", mov = templates / "t.MOV", mp4 = templates / "t.MP4", wav = templates / "t.WAV";
    ffmpeg({"-f", "lavfi", "-i", "testsrc=size=1920x1080", "-frames:v", "1", "-f", "image2", jpg.string()});
    bench::commandOutput({"exiftool", "-q", "-overwrite_original", "-DateTimeOriginal=2024:05:01 12:34:56",
                          "-SubSecTimeOriginal=25", "-Make=Canon", "-Model=EOS R5", jpg.string()});
    ffmpeg({"-f", "lavfi", "-i", "testsrc=size=1920x1080:rate=25", "-t", "2", "-c:v", "libx264", "-preset",
            "ultrafast", "-metadata", "creation_time=2024-05-01T12:34:56Z", mov.string()});
    ffmpeg({"-f", "lavfi", "-i", "testsrc=size=1280x720:rate=25", "-t", "2", "-c:v", "libx264", "-preset",
            "ultrafast", "-metadata", "creation_time=2024-05-01T12:34:56Z", mp4.string()});
    ffmpeg({"-f", "lavfi", "-i", "sine=duration=2", wav.string()});
    const fs::path sources[] = {jpg, mov, mp4, wav};
    for (size_t i = 0; i < files.size(); ++i) {
        fs::create_directories(files[i].parent_path());
        fs::copy_file(sources[i % 4], files[i]);
    }
    std::ofstream(done) << "";
    return files;
}

void removeDatabase(const fs::path& db) {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db.native() + suffix);
}

// Fingerprints every file through a caching reader; returns how many have a camera date.
int fingerprintAll(const std::vector<fs::path>& files, const fs::path& db, bool useCache) {
    auto reader = std::make_shared<tessaline::NativeMetadataReader>();
    auto index = std::make_shared<tessaline::FingerprintIndex>(db);
    tessaline::CachingMetadataReader caching(reader, index, "EOS_DIGITAL", useCache, 500);
    int dated = 0;
    for (const auto& file : files) dated += caching.fingerprint(file).hasCameraTimestamp ? 1 : 0;
    caching.flush();
    return dated;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path scratch = bench::scratchFolder(argc, argv);
    fs::path root = scratch / "fingerprint-tree-2k";
    std::vector<fs::path> files = ensureTree(root);
    fs::path db = scratch / "fingerprint-bench.db";
    for (const auto& file : files) bench::warmCache(file);

    const int expectedDated = filesPerKind * 3;  // JPEG, MOV and MP4 carry camera dates; WAV does not
    int coldDated = 0;
    int peerFiles = 0;
    auto cold = [&] {
        removeDatabase(db);
        coldDated = fingerprintAll(files, db, true);
    };
    auto [coldSeconds, exiftoolSeconds] = bench::bestOfInterleaved(3, cold, [&] {
        std::string json = bench::commandOutput({"exiftool", "-fast2", "-j", "-r", (root / "DCIM").string()});
        peerFiles = 0;
        for (size_t at = json.find("\"SourceFile\""); at != std::string::npos; at = json.find("\"SourceFile\"", at + 1))
            ++peerFiles;
    });
    if (coldDated != expectedDated || peerFiles != static_cast<int>(files.size())) {
        std::fprintf(stderr, "fingerprint: %d camera-dated files (expected %d); exiftool listed %d of %zu\n",
                     coldDated, expectedDated, peerFiles, files.size());
        return 1;
    }
    bench::printRatio("fingerprint_cold", coldSeconds, exiftoolSeconds);

    int warmDated = 0;
    cold();  // the cache is full from here on; each cold round below refills it
    auto [warmSeconds, coldAgainSeconds] =
        bench::bestOfInterleaved(5, [&] { warmDated = fingerprintAll(files, db, true); }, cold);
    if (warmDated != expectedDated) {
        std::fprintf(stderr, "fingerprint: warm run found %d camera-dated files, expected %d\n", warmDated,
                     expectedDated);
        return 1;
    }
    bench::printRatio("fingerprint_warm", warmSeconds, std::min(coldSeconds, coldAgainSeconds));
    removeDatabase(db);
    return 0;
}
