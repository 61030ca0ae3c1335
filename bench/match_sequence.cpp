// Matching and byte proof of an image sequence: N card files of one size without any date
// (one fingerprint key for all, as CinemaDNG, DPX or EXR frames give), each with different
// bytes, against their copies on a drive (same names, written in reverse order):
// Matcher::claim, then MatchVerifier::verify of the claims, as the scan runs them. Made once
// under the scratch folder, files in the page cache.
// LOWER is better for both figures:
//   RATIO match_sequence: the time for 20,000 frames over ten times the time for 2,000
//       (target at most 1.5: linear growth; proving every frame against every other gives
//       about 10).
//   RATIO match_sequence_memory: the memory matching and proof take while they run, in bytes
//       per drive file (target at most 300): peak resident memory during the 20,000-frame run
//       over the resident memory just before it, less what the results it returns hold.
//   The results (each frame's group and its proven copy's path, one per card clip, kept by the
//   report) are printed apart as bytes per clip; they grow with the card, not the drives.
// Exits non-zero unless every frame is confirmed at its own copy.

#include "BenchSupport.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include "Tessaline/Matcher/Matcher.hpp"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace tessaline;

namespace {

constexpr int largeCount = 20'000;
constexpr int smallCount = 2'000;
constexpr size_t frameSize = 2048;

std::string frameName(int k) {
    char name[32];
    std::snprintf(name, sizeof name, "F%07d.DNG", k);
    return name;
}

// Frame k: repeatable bytes of its own.
std::string frameBytes(int k) {
    std::string bytes(frameSize, '\0');
    uint64_t x = 0x9e3779b97f4a7c15ull * uint64_t(k + 1);
    for (size_t i = 0; i < bytes.size(); ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        bytes[i] = char(x);
    }
    return bytes;
}

void write(const fs::path& file, const std::string& bytes) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        throw std::runtime_error("cannot write " + file.string());
    ::close(fd);
}

void ensureData(const fs::path& root) {
    const fs::path done = root / ".complete";
    if (fs::exists(done)) return;
    fs::remove_all(root);
    fs::create_directories(root / "card");
    fs::create_directories(root / "drive");
    for (int k = 0; k < largeCount; ++k) write(root / "card" / frameName(k), frameBytes(k));
    for (int k = largeCount - 1; k >= 0; --k) write(root / "drive" / frameName(k), frameBytes(k));
    std::ofstream(done) << "";
}

struct Input {
    std::vector<ClipGroup> card;
    std::vector<Fingerprint> drives;
};

// The first `count` frames of the card and their copies, in the drive's reverse order.
Input input(const fs::path& root, int count) {
    Input in;
    for (int k = 0; k < count; ++k)
        in.card.push_back({{Fingerprint{.url = root / "card" / frameName(k), .byteSize = frameSize}}, {}, ClipGroup::Kind::still});
    for (int k = count - 1; k >= 0; --k) in.drives.push_back({.url = root / "drive" / frameName(k), .byteSize = frameSize});
    return in;
}

bool allConfirmed(const fs::path& root, const std::vector<MatchResult>& results) {
    for (size_t k = 0; k < results.size(); ++k) {
        if (results[k].status != MatchStatus::confirmed(root / "drive" / frameName(int(k)))) {
            std::fprintf(stderr, "match_sequence: %s\n", results[k].description().c_str());
            return false;
        }
    }
    return true;
}

std::vector<MatchResult> run(const fs::path& root, const Input& in) {
    const MatchClaims claims = Matcher().claim(in.card, in.drives, root / "card");
    return MatchVerifier(ChecksumEngine(4 << 20), root / "card").verify(claims, [] { return false; });
}

int64_t statusBytes(const char* key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + std::strlen(key)) * 1024;
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path root = fs::absolute(bench::scratchFolder(argc, argv)) / "match_sequence";
    ensureData(root);
    for (const char* side : {"card", "drive"})
        for (const auto& entry : fs::directory_iterator(root / side)) bench::warmCache(entry.path());

    const Input small = input(root, smallCount);
    const Input large = input(root, largeCount);
    std::vector<MatchResult> smallResults, largeResults;
    double smallSeconds = 1e9, largeSeconds = 1e9;
    int64_t before = 0, peak = 0, resultsHeld = 0;
    for (int round = 0; round < 5; ++round) {
        smallResults.clear();
        largeResults.clear();
        smallSeconds = std::min(smallSeconds, bench::secondsOf([&] { smallResults = run(root, small); }));
        if (round == 0) {
            before = statusBytes("VmRSS:");
            std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak
        }
        largeSeconds = std::min(largeSeconds, bench::secondsOf([&] { largeResults = run(root, large); }));
        if (round == 0) {
            peak = statusBytes("VmHWM:");
            // How much of it the results hold (each frame's group and its proven copy's path).
            const int64_t with = statusBytes("VmRSS:");
            std::vector<MatchResult>().swap(largeResults);
            ::malloc_trim(0);
            resultsHeld = std::max<int64_t>(0, with - statusBytes("VmRSS:"));
            std::fprintf(stderr, "match_sequence: the %d results hold about %.0f bytes each\n", largeCount,
                         double(resultsHeld) / largeCount);
        }
    }
    if (!allConfirmed(root, smallResults) || !allConfirmed(root, largeResults)) return 1;
    std::fprintf(stderr, "match_sequence: %d frames %.3f s, %d frames %.3f s; peak %.1f MiB over %.1f MiB before\n",
                 smallCount, smallSeconds, largeCount, largeSeconds, peak / 1048576.0, before / 1048576.0);
    std::printf("RATIO match_sequence %.3f\n", largeSeconds / (10 * smallSeconds));
    std::fprintf(stderr, "match_sequence: peak over before, results included: %.1f bytes per drive file\n",
                 double(peak - before) / largeCount);
    std::printf("RATIO match_sequence_memory %.1f\n", double(peak - before - resultsHeld) / largeCount);
    return 0;
}
