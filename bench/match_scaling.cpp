// Matcher::match on synthetic fingerprints: 10,000 card clips against 100,000 drive files,
// then 100,000 clips against 1,000,000. Prints RATIO match_scaling time(large) / time(small)
// (lower is better; the target is at most 15, near-linear growth; comparing every clip with
// every drive file would give about 100). One small match takes about 10 ms, too short to
// time alone on a shared machine: the small run repeats it for at least 100 ms and counts
// the mean. Each figure is the best of three rounds. Exits non-zero when a verdict count is
// wrong.

#include "BenchSupport.hpp"
#include "Tessaline/Matcher/Matcher.hpp"

#include <chrono>
#include <cstdio>
#include <random>

namespace {

using namespace tessaline;

struct Data {
    std::vector<ClipGroup> card;
    std::vector<Fingerprint> drives;
    size_t expectedConfirmed = 0;
};

// Drive files of camera-like sizes and times; half the card clips have a copy on the drives,
// a quarter share only a name with one, and a quarter are missing. Sizes repeat often (many
// files of one size) as uncompressed formats make them.
Data makeData(size_t clips, size_t driveFiles, unsigned seed) {
    std::mt19937_64 random(seed);
    const EpochSeconds start = epochFromUtc(2024, 1, 1, 0, 0, 0);
    Data data;
    data.drives.reserve(driveFiles);
    for (size_t i = 0; i < driveFiles; ++i) {
        Fingerprint fp{.url = "/media/BACKUP/day" + std::to_string(i % 365) + "/C" + std::to_string(i) + ".MOV",
                       .byteSize = static_cast<int64_t>(1'000'000 + random() % (driveFiles * 4)),
                       .captureDate = start + static_cast<double>(i) * 7.0,
                       .codec = std::string(i % 3 ? "avc1" : "hvc1"),
                       .width = 3840,
                       .height = 2160,
                       .hasCameraTimestamp = true,
                       .timestampSource = TimestampSource::quickTimeAtom};
        data.drives.push_back(std::move(fp));
    }
    data.card.reserve(clips);
    for (size_t c = 0; c < clips; ++c) {
        size_t pick = random() % driveFiles;
        Fingerprint fp = data.drives[pick];
        fp.url = "/media/CARD/DCIM/C" + std::to_string(pick) + ".MOV";
        switch (c % 4) {
        case 0:
        case 1: data.expectedConfirmed++; break;  // an exact copy
        case 2: fp.byteSize = -1 - static_cast<int64_t>(c); break;  // same name, other size
        case 3:
            fp.byteSize = -1 - static_cast<int64_t>(c);
            fp.url = "/media/CARD/DCIM/NEW" + std::to_string(c) + ".MOV";
            break;
        }
        data.card.push_back({{fp}, {}, ClipGroup::Kind::video});
    }
    return data;
}

bool check(const Data& data, const std::vector<MatchResult>& results) {
    size_t confirmed = 0;
    for (const auto& r : results) confirmed += r.status.kind() == MatchStatus::Kind::confirmed;
    if (confirmed != data.expectedConfirmed) {
        std::fprintf(stderr, "match_scaling: %zu confirmed, expected %zu\n", confirmed, data.expectedConfirmed);
        return false;
    }
    return true;
}

}  // namespace

int main() {
    Data small = makeData(10'000, 100'000, 1);
    Data large = makeData(100'000, 1'000'000, 2);
    Matcher matcher;
    std::vector<MatchResult> smallResults, largeResults;
    double smallSeconds = 1e9, largeSeconds = 1e9;
    for (int round = 0; round < 3; ++round) {
        // Dropping the previous results is not part of matching: do it outside the timing.
        smallResults.clear();
        largeResults.clear();
        // The results of every repeat are kept until the run ends, so none is freed inside it.
        std::vector<std::vector<MatchResult>> repeats;
        int count = 0;
        const double seconds = bench::secondsOf([&] {
            const auto start = std::chrono::steady_clock::now();
            do {
                repeats.push_back(matcher.match(small.card, small.drives));
                ++count;
            } while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(100));
        });
        smallSeconds = std::min(smallSeconds, seconds / count);
        smallResults = std::move(repeats.back());
        largeSeconds = std::min(largeSeconds, bench::secondsOf([&] { largeResults = matcher.match(large.card, large.drives); }));
    }
    if (!check(small, smallResults) || !check(large, largeResults)) return 1;
    std::fprintf(stderr, "match_scaling: small %.4f s, large %.4f s\n", smallSeconds, largeSeconds);
    std::printf("RATIO match_scaling %.3f\n", largeSeconds / smallSeconds);
    return 0;
}
