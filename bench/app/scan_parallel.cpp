// A whole cold scan (empty fingerprint cache) of a 2,000-file card against a drive holding
// renamed copies, through the scan view model's worker (ScanRun): card and drive scans,
// fingerprinting, grouping, matching, byte proof and the report. The peer is the same run
// with one fingerprinting thread; ours fingerprints on the default thread count.
//   RATIO scan_parallel: one-thread time over parallel time (target at least 3 on 8 cores).
// Exits non-zero when the two runs disagree on any clip's verdict.

#include "BenchSupport.hpp"
#include "ScanBenchData.hpp"

#include "BrindlecoveApp/ViewModels/FingerprintStages.hpp"
#include "BrindlecoveApp/ViewModels/ScanRun.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"

#include <cstdio>
#include <thread>

namespace fs = std::filesystem;
using namespace brindlecove;

namespace {

std::string verdicts(const ScanOutcome& outcome) {
    auto* report = std::get_if<std::shared_ptr<const tessaline::VerificationReport>>(&outcome);
    if (!report) return "failed: " + std::get<ScanFailure>(outcome).message;
    std::string text;
    for (const auto& result : (*report)->results) text += result.description() + "\n";
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path scratch = fs::absolute(bench::scratchFolder(argc, argv)) / "scan_parallel";
    const bench::ScanBenchData data = bench::ensureScanBenchData(scratch / "media", 2000);
    const fs::path grants = scratch / "grants.json";
    fs::remove(grants);
    tessaline::SecurityScopedBookmarkStore(grants).grant(data.drive);
    const std::string label = tessaline::SecurityScopedBookmarkStore(grants).grantedVolumeLabels().front();
    const fs::path cache = scratch / "cache.db";

    auto environment = [&](int threads) {
        ScanRun::Environment environment;
        environment.bookmarkStoreURL = grants;
        environment.fingerprintThreads = threads;
        environment.openCache = [cache] {
            for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(cache.native() + suffix);
            return std::make_shared<tessaline::FingerprintIndex>(cache);
        };
        return environment;
    };
    const ScanRequest request{data.card, {label}, false, false};
    const int threads = FingerprintStages::defaultThreadCount();
    ScanOutcome parallel, single;
    auto [oursSeconds, peerSeconds] = bench::bestOfInterleaved(
        3, [&] { parallel = ScanRun::perform(request, environment(threads), {}, {}); },
        [&] { single = ScanRun::perform(request, environment(1), {}, {}); });
    const std::string ours = verdicts(parallel), peer = verdicts(single);
    if (ours != peer || ours.rfind("failed", 0) == 0) {
        std::fprintf(stderr, "scan_parallel: the runs disagree\n--- parallel\n%s--- one thread\n%s", ours.c_str(),
                     peer.c_str());
        return 1;
    }
    std::fprintf(stderr, "scan_parallel: %u hardware threads, %d fingerprinting threads\n",
                 std::thread::hardware_concurrency(), threads);
    bench::printRatio("scan_parallel", oursSeconds, peerSeconds);
    return 0;
}
