// A scan of today's card on a drive that already holds earlier days of the same camera:
// 200 undated frames of 4 MiB (a JPEG header, a hole, eight bytes of their own) against a
// drive holding their copies under the same names in Day9/ and 20,000 archive frames in
// Archive/Day0..Day9/ (names repeating from day to day), through the scan view model's worker
// (ScanRun, no fingerprint cache): walks, fingerprinting, matching, byte proof, report. The
// peer is the same scan against the same archive one byte longer (other fingerprints, walked
// and fingerprinted but never candidates). Frames are sparse files, so the archive takes
// little room; made once under the scratch folder. Reads come from the page cache (the
// machine is shared: caches are not dropped).
// LOWER is better for both figures:
//   RATIO match_archive: the scan of the copied card over the peer's (target at most 1.5).
//   RATIO match_archive_uncopied: the same for the card before its copy, against the archive
//       alone (target at most 3; the peer reads nothing, ours reads at most its bound).
// Exits non-zero unless every frame of the copied card is confirmed at its own copy and every
// frame of the uncopied card is missing (name mismatches for the peer).

#include "BenchSupport.hpp"

#include "BrindlecoveApp/ViewModels/ScanRun.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;
using namespace brindlecove;

namespace {

constexpr int cardFrames = 200;
constexpr int archiveDays = 10;
constexpr int framesPerDay = 2000;  // 20,000 archive frames
constexpr int64_t frameSize = 4 << 20;
constexpr double day = 86'400;

std::string frameName(int k) {
    char name[32];
    std::snprintf(name, sizeof name, "F%05d.JPG", k);
    return name;
}

struct Data {
    fs::path card, sameSize, otherSize;  // the drives hold Archive/ and Day9/
};

Data ensureData(const fs::path& root) {
    Data data{root / "card", root / "same", root / "other"};
    if (fs::exists(root / ".complete")) return data;
    fs::remove_all(root);
    fs::create_directories(root);
    const fs::path jpg = root / "header.JPG";
    bench::commandOutput({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x48",
                          "-frames:v", "1", "-f", "image2", jpg.string()});
    std::ifstream in(jpg, std::ios::binary);
    const std::string header((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const double shoot = double(std::time(nullptr)) - 2 * day;
    fs::create_directories(data.card / "DCIM/100SEQ");
    for (int k = 0; k < cardFrames; ++k)
        bench::writeSparseFrame(header, data.card / "DCIM/100SEQ" / frameName(k), k, frameSize, shoot + k);
    for (const auto& [drive, size] : {std::pair{data.sameSize, frameSize}, std::pair{data.otherSize, frameSize + 1}}) {
        for (int d = 0; d < archiveDays; ++d) {
            const fs::path folder = drive / "Archive" / ("Day" + std::to_string(d));
            fs::create_directories(folder);
            for (int k = 0; k < framesPerDay; ++k)
                bench::writeSparseFrame(header, folder / frameName(k), 100'000 + d * framesPerDay + k, size,
                                        shoot - (20 - d) * day + k);
        }
        fs::create_directories(drive / "Day9");
        for (int k = 0; k < cardFrames; ++k)
            bench::writeSparseFrame(header, drive / "Day9" / frameName(k), k, frameSize, shoot + 3600 + k);
    }
    std::ofstream(root / ".complete") << "";
    return data;
}

// Each drive folder granted in its own grants file, so a scan visits exactly it.
struct Granted {
    fs::path grants;
    std::string label;
};
Granted grant(const fs::path& folder, const fs::path& grants) {
    fs::remove(grants);
    tessaline::SecurityScopedBookmarkStore(grants).grant(folder);
    return {grants, tessaline::SecurityScopedBookmarkStore(grants).grantedVolumeLabels().back()};
}

std::shared_ptr<const tessaline::VerificationReport> scan(const fs::path& card, const Granted& drive) {
    ScanRun::Environment environment;
    environment.bookmarkStoreURL = drive.grants;
    environment.openCache = [] { return nullptr; };
    auto outcome = ScanRun::perform({card, {drive.label}, false, false}, environment, {}, {});
    auto* report = std::get_if<std::shared_ptr<const tessaline::VerificationReport>>(&outcome);
    if (!report) throw std::runtime_error("scan failed: " + std::get<ScanFailure>(outcome).message);
    return *report;
}

bool confirmedAtCopies(const tessaline::VerificationReport& report, const fs::path& drive) {
    if (report.results.size() != size_t(cardFrames)) return false;
    for (const auto& result : report.results)
        if (result.status != tessaline::MatchStatus::confirmed(drive / "Day9" / result.primaryName())) {
            std::fprintf(stderr, "match_archive: %s\n", result.description().c_str());
            return false;
        }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path root = fs::absolute(bench::scratchFolder(argc, argv)) / "match_archive";
    const Data data = ensureData(root);
    const Granted same = grant(data.sameSize, root / "grants-same.json");
    const Granted other = grant(data.otherSize, root / "grants-other.json");
    const Granted sameArchive = grant(data.sameSize / "Archive", root / "grants-same-archive.json");
    const Granted otherArchive = grant(data.otherSize / "Archive", root / "grants-other-archive.json");

    std::shared_ptr<const tessaline::VerificationReport> ours, peer, oursUncopied, peerUncopied;
    auto [copied, copiedPeer] = bench::bestOfInterleaved(
        3, [&] { ours = scan(data.card, same); }, [&] { peer = scan(data.card, other); });
    auto [uncopied, uncopiedPeer] = bench::bestOfInterleaved(
        3, [&] { oursUncopied = scan(data.card, sameArchive); }, [&] { peerUncopied = scan(data.card, otherArchive); });
    if (!confirmedAtCopies(*ours, data.sameSize) || !confirmedAtCopies(*peer, data.otherSize) ||
        oursUncopied->missing().size() != size_t(cardFrames) ||
        oursUncopied->confirmed().size() + oursUncopied->duplicates().size() != 0 ||
        peerUncopied->confirmed().size() + peerUncopied->duplicates().size() != 0) {
        std::fprintf(stderr, "match_archive: wrong verdicts\n");
        return 1;
    }
    std::fprintf(stderr, "match_archive: copied card %.3f s against the archive of its size, %.3f s against the other\n",
                 copied, copiedPeer);
    std::fprintf(stderr, "match_archive: uncopied card %.3f s against the archive of its size, %.3f s against the other\n",
                 uncopied, uncopiedPeer);
    std::printf("RATIO match_archive %.3f\n", copied / copiedPeer);
    std::printf("RATIO match_archive_uncopied %.3f\n", uncopied / uncopiedPeer);
    return 0;
}
