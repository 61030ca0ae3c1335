// The memory of a whole scan (ScanRun::perform: walks, fingerprint cache, 4 fingerprinting
// threads, grouping, matching, byte proof, report) of a 200-file card against one drive
// folder of N files shaped like a production RAID: 53% media with real headers (QuickTime
// videos and EXIF JPEGs, sparse past their headers so every size differs), 23% XML sidecars,
// 23% thumbnails in THMBNL folders, 1% other files; folders of 77 files plus their THMBNL,
// paths of 12 components. Made once under the scratch folder; the card holds 100 of the
// drive's clips and their 100 sidecars. N is argv[2], else $SCAN_MEMORY_FILES, else 200,000.
// LOWER is better for both figures:
//   RATIO scan_memory: peak resident memory during the scan over the resident memory just
//       before it, in bytes per drive file (target at most 300).
//   RATIO scan_memory_kept: resident memory after the scan minus before it, in MiB (target
//       at most 50).
// Exits non-zero when the scan fails or any card clip or sidecar is not proven.

#include "BenchSupport.hpp"

#include "BrindlecoveApp/ViewModels/ScanRun.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace brindlecove;

namespace {

constexpr int groupFiles = 100;  // per clip folder: 53 media, 23 sidecars, 1 other, 23 thumbnails
constexpr int mediaPerGroup = 53, sidecarsPerGroup = 23, thumbnailsPerGroup = 23;
constexpr int cardClips = 100;

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// `bytes`, then a hole up to `size` (a JPEG reads zeros after its end marker as nothing; a
// QuickTime file ends in a "free" box spanning the hole).
void writeSparse(const fs::path& file, const std::string& bytes, off_t size) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()) || ::ftruncate(fd, size) != 0)
        throw std::runtime_error("cannot write " + file.string());
    ::close(fd);
}

struct Templates {
    std::string jpg, mov;
};

Templates makeTemplates(const fs::path& folder) {
    fs::create_directories(folder);
    const fs::path jpg = folder / "t.JPG", mov = folder / "t.MOV";
    bench::commandOutput({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x48",
                          "-frames:v", "1", "-f", "image2", jpg.string()});
    bench::commandOutput({"exiftool", "-q", "-overwrite_original", "-DateTimeOriginal=2024:05:01 12:34:56",
                          "-Make=Sony", "-Model=FX6", jpg.string()});
    bench::commandOutput({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                          "testsrc=size=80x64:rate=25", "-frames:v", "1", "-c:v", "mpeg4", "-metadata",
                          "creation_time=2024-05-01T12:34:56Z", mov.string()});
    return {readAll(jpg), readAll(mov)};
}

// Media file number `n` (unique across the drive): every third a JPEG, the others videos,
// each of a size of its own.
std::string mediaName(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "C%07d.%s", n, n % 3 == 0 ? "JPG" : "MOV");
    return name;
}
void writeMedia(const fs::path& file, int n, const Templates& t) {
    if (n % 3 == 0) return writeSparse(file, t.jpg, off_t(t.jpg.size() + 1 + n));
    const uint32_t pad = uint32_t(1 + n);
    writeSparse(file, t.mov + be32(8 + pad) + "free", off_t(t.mov.size() + 8 + pad));
}
std::string sidecarName(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "C%07dM01.XML", n);
    return name;
}
std::string sidecarText(int n) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<NonRealTimeMeta><Clip n=\"" + std::to_string(n) +
           "\"/></NonRealTimeMeta>\n";
}
void writeText(const fs::path& file, const std::string& text) { writeSparse(file, text, off_t(text.size())); }

// The clip folder of group `g`: 5 levels below the drive root.
fs::path groupFolder(const fs::path& drive, int g) {
    char rel[96];
    std::snprintf(rel, sizeof rel, "S%02d/D%03d/Cam%c/R%05d/CLIPS", g / 2000, (g / 100) % 20, 'A' + (g / 25) % 4, g);
    return drive / rel;
}

struct Data {
    fs::path card, drive;
    int driveFiles = 0;
};

Data ensureData(const fs::path& root, int files) {
    Data data{root / ("card-" + std::to_string(files)), root / ("drive-" + std::to_string(files)), 0};
    const int groups = files / groupFiles;
    data.driveFiles = groups * groupFiles;
    const fs::path done = root / (".complete-" + std::to_string(files));
    if (fs::exists(done)) return data;
    fs::remove_all(data.card);
    fs::remove_all(data.drive);
    const Templates t = makeTemplates(root / "templates");
    const fs::path cardFolder = data.card / "PRIVATE/M4ROOT/CLIP";
    fs::create_directories(cardFolder);
    int onCard = 0;
    for (int g = 0; g < groups; ++g) {
        const fs::path folder = groupFolder(data.drive, g);
        fs::create_directories(folder / "THMBNL");
        for (int k = 0; k < mediaPerGroup; ++k) {
            const int n = g * mediaPerGroup + k;
            writeMedia(folder / mediaName(n), n, t);
            if (k < sidecarsPerGroup) {
                writeText(folder / sidecarName(n), sidecarText(n));
                if (onCard < cardClips && g % 7 == 0) {
                    writeMedia(cardFolder / mediaName(n), n, t);
                    writeText(cardFolder / sidecarName(n), sidecarText(n));
                    ++onCard;
                }
            }
            if (k < thumbnailsPerGroup) {
                char thumb[32];
                std::snprintf(thumb, sizeof thumb, "C%07dT01.JPG", n);
                writeText(folder / "THMBNL" / thumb, t.jpg);
            }
        }
        writeText(folder / "ROLL.TXT", "roll " + std::to_string(g) + "\n");
    }
    std::ofstream(done) << "";
    return data;
}

int64_t statusBytes(const char* key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + std::strlen(key)) * 1024;
    return -1;
}

void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

ScanOutcome scan(const Data& data, const fs::path& grants, const fs::path& cache, std::vector<std::string> labels) {
    ScanRun::Environment environment;
    environment.bookmarkStoreURL = grants;
    environment.fingerprintThreads = 4;
    environment.openCache = [cache] {
        for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(cache.native() + suffix);
        return std::make_shared<tessaline::FingerprintIndex>(cache);
    };
    // The resident memory at the start of each phase of the scan, on standard error.
    size_t phase = size_t(-1);
    auto onEvent = [&](const ScanEvent& event) {
        if (event.index() == phase) return;
        phase = event.index();
        std::fprintf(stderr, "scan_memory:   event %zu at %.1f MiB resident\n", phase, statusBytes("VmRSS:") / 1048576.0);
    };
    return ScanRun::perform(ScanRequest{data.card, std::move(labels), false, false}, environment, {}, onEvent);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path scratch = fs::absolute(bench::scratchFolder(argc, argv)) / "scan_memory";
    const char* env = std::getenv("SCAN_MEMORY_FILES");
    const int files = argc > 2 ? std::atoi(argv[2]) : env ? std::atoi(env) : 200'000;
    const auto madeStart = std::chrono::steady_clock::now();
    const Data data = ensureData(scratch, files);
    std::fprintf(stderr, "scan_memory: %d drive files (%d media), ready after %.1f s\n", data.driveFiles,
                 data.driveFiles / groupFiles * mediaPerGroup,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - madeStart).count());

    const fs::path grants = scratch / "grants.json";
    fs::remove(grants);
    tessaline::SecurityScopedBookmarkStore(grants).grant(data.drive);
    const std::string label = tessaline::SecurityScopedBookmarkStore(grants).grantedVolumeLabels().front();
    const fs::path cache = scratch / "cache.db";

    // A scan of the card alone first: the libraries' one-time set-up is not the drive's cost.
    (void)scan(data, grants, cache, {});
    ::malloc_trim(0);

    const int64_t before = statusBytes("VmRSS:");
    resetPeak();
    const auto start = std::chrono::steady_clock::now();
    const ScanOutcome outcome = scan(data, grants, cache, {label});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int64_t peak = statusBytes("VmHWM:");
    const int64_t after = statusBytes("VmRSS:");

    auto* report = std::get_if<std::shared_ptr<const tessaline::VerificationReport>>(&outcome);
    if (!report) {
        std::fprintf(stderr, "scan_memory: the scan failed: %s\n", std::get<ScanFailure>(outcome).message.c_str());
        return 1;
    }
    int confirmed = 0, proven = 0;
    for (const auto& result : (*report)->results)
        confirmed += result.status.kind() == tessaline::MatchStatus::Kind::confirmed ? int(result.group.primaryFiles.size()) : 0;
    for (const auto& other : (*report)->otherFiles) proven += other.provenAt.has_value();
    std::fprintf(stderr,
                 "scan_memory: %.1f s; resident %.1f MiB before, peak %.1f MiB, after %.1f MiB; %d of %d card clips "
                 "confirmed, %d of %zu other files proven\n",
                 seconds, before / 1048576.0, peak / 1048576.0, after / 1048576.0, confirmed, cardClips, proven,
                 (*report)->otherFiles.size());
    if (confirmed != cardClips || proven != cardClips || (*report)->otherFiles.size() != size_t(cardClips)) {
        std::fprintf(stderr, "scan_memory: not every card file was proven\n");
        return 1;
    }
    std::printf("RATIO scan_memory %.1f\n", double(peak - before) / data.driveFiles);
    std::printf("RATIO scan_memory_kept %.1f\n", double(after - before) / 1048576.0);
    return 0;
}
