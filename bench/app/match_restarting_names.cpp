// A scan of today's card from a camera that restarts its clip names on every card, beside the
// sixty earlier cards of the production on the same RAID: 10 clips of 48 undated frames of
// 2 MiB (B001C001/B001C001_000000.DNG: a small TIFF, a hole, eight bytes of their own), each
// earlier card copied whole with a plain copy into Project/DayNN/B_CAM/Card1/ (file times
// the copy's, 23:00 of its day, so yesterday's copy is nearer in time to the card's frames
// than today's), today's card copied the same way into Project/Day61/B_CAM/Card1/ at 20:00.
// Through the scan view model's worker (ScanRun, no fingerprint cache): walks,
// fingerprinting, matching, byte proof, report. What the scan reads is taken from
// /proc/self/io, less what the same scan of the card's frames one byte longer reads (the
// same walks and fingerprints, nothing to prove): the proof's reading. Frames are sparse
// files, made once under the scratch folder; reads come from the page cache.
// LOWER is better:
//   RATIO match_restarting_names: the proof's bytes read over the card's bytes (target at
//       most 2.2: the card and its copy once each, little else).
// Exits non-zero unless every frame is confirmed at today's copy.

#include "BenchSupport.hpp"

#include "BrindlecoveApp/ViewModels/ScanRun.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <stdexcept>

namespace fs = std::filesystem;
using namespace brindlecove;

namespace {

constexpr int clips = 10;
constexpr int framesPerClip = 48;
constexpr int earlierCards = 60;
constexpr int64_t frameSize = 2 << 20;
constexpr int64_t cardBytes = int64_t(clips) * framesPerClip * frameSize;
constexpr double hour = 3600;
constexpr double day = 24 * hour;

std::string placeOf(int clip, int frame) {
    char text[48];
    std::snprintf(text, sizeof text, "B001C%03d/B001C%03d_%06d.DNG", clip, clip, frame);
    return text;
}

// Card `number` (today's is 0) below `root`: its frames modified at `copiedAt` plus a second
// per frame, or at their shooting times (07:10 of `shootDay`, one every 12 s) when none.
void writeCard(const std::string& header, const fs::path& root, uint64_t number, double shootDay,
               std::optional<double> copiedAt, int64_t size) {
    for (int c = 1; c <= clips; ++c) {
        fs::create_directories((root / placeOf(c, 0)).parent_path());
        for (int f = 0; f < framesPerClip; ++f) {
            const int k = (c - 1) * framesPerClip + f;
            const double shot = shootDay + 7 * hour + 10 * 60 + 12 * k;
            bench::writeSparseFrame(header, root / placeOf(c, f), number * 100'000 + uint64_t(k), size,
                                    copiedAt ? *copiedAt + k : shot);
        }
    }
}

struct Data {
    fs::path card, longer, raid, today;
};

Data ensureData(const fs::path& root) {
    Data data{root / "card", root / "card_longer", root / "raid", root / "raid/Project/Day61/B_CAM/Card1"};
    if (fs::exists(root / ".complete")) return data;
    fs::remove_all(root);
    fs::create_directories(root);
    const fs::path tiff = root / "header.tif";
    bench::commandOutput({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=16x12",
                          "-frames:v", "1", tiff.string()});
    std::ifstream in(tiff, std::ios::binary);
    const std::string header((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const double shootDay = std::floor(double(std::time(nullptr)) / day) * day - 2 * day;
    writeCard(header, data.card, 0, shootDay, std::nullopt, frameSize);
    writeCard(header, data.longer, 0, shootDay, std::nullopt, frameSize + 1);
    for (int d = 1; d <= earlierCards; ++d) {
        char name[16];
        std::snprintf(name, sizeof name, "Day%02d", d);
        writeCard(header, data.raid / "Project" / name / "B_CAM/Card1", uint64_t(d), shootDay,
                  shootDay - (earlierCards + 1 - d) * day + 23 * hour, frameSize);
    }
    writeCard(header, data.today, 0, shootDay, shootDay + 20 * hour, frameSize);
    std::ofstream(root / ".complete") << "";
    return data;
}

struct Scanned {
    std::shared_ptr<const tessaline::VerificationReport> report;
    int64_t read = 0;
    double seconds = 0;
};

Scanned scan(const fs::path& card, const fs::path& grants, const std::string& label) {
    ScanRun::Environment environment;
    environment.bookmarkStoreURL = grants;
    environment.openCache = [] { return nullptr; };
    const int64_t before = bench::processBytesRead();
    const auto start = std::chrono::steady_clock::now();
    auto outcome = ScanRun::perform({card, {label}, false, false}, environment, {}, {});
    Scanned scanned;
    scanned.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    scanned.read = bench::processBytesRead() - before;
    auto* report = std::get_if<std::shared_ptr<const tessaline::VerificationReport>>(&outcome);
    if (!report) throw std::runtime_error("scan failed: " + std::get<ScanFailure>(outcome).message);
    scanned.report = *report;
    return scanned;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path root = fs::absolute(bench::scratchFolder(argc, argv)) / "match_restarting_names";
    const Data data = ensureData(root);
    const fs::path grants = root / "grants.json";
    fs::remove(grants);
    tessaline::SecurityScopedBookmarkStore(grants).grant(data.raid);
    const std::string label = tessaline::SecurityScopedBookmarkStore(grants).grantedVolumeLabels().back();

    // Interleaved, the least reading of each kept (the ratio is of bytes, not of time).
    Scanned ours, peer;
    for (int round = 0; round < 3; ++round) {
        Scanned o = scan(data.card, grants, label);
        Scanned p = scan(data.longer, grants, label);
        if (round == 0 || o.read < ours.read) ours = o;
        if (round == 0 || p.read < peer.read) peer = p;
    }
    const auto& report = *ours.report;
    size_t proven = 0, wrong = 0;
    for (const auto& result : report.results) {
        const fs::path& file = result.group.primaryFiles.front().url;
        if (result.status == tessaline::MatchStatus::confirmed(data.today / file.lexically_relative(data.card)))
            ++proven;
        else if (++wrong <= 5)
            std::fprintf(stderr, "match_restarting_names: %s\n", result.description().c_str());
    }
    std::fprintf(stderr, "match_restarting_names: %zu of %d frames proven at today's copy; %.3f s, peer %.3f s\n", proven,
                 clips * framesPerClip, ours.seconds, peer.seconds);
    std::fprintf(stderr, "match_restarting_names: read %.1f MiB, peer %.1f MiB, card %.1f MiB\n", ours.read / 1048576.0,
                 peer.read / 1048576.0, cardBytes / 1048576.0);
    if (proven != size_t(clips * framesPerClip) || report.results.size() != proven) {
        std::fprintf(stderr, "match_restarting_names: not every frame proven\n");
        return 1;
    }
    std::printf("RATIO match_restarting_names %.3f\n", double(ours.read - peer.read) / double(cardBytes));
    return 0;
}
