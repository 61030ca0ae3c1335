// The cost of running a scan through the scan view model: a whole cold scan of the 2,000-file
// card against its renamed copies through ScanViewModel (its worker's events posted to a
// running event loop and applied there, its progress tracked), against the same engine
// calls made directly on the same files with the same number of fingerprinting threads
// (folder scans, caching reader, grouping, matching, byte proof, report).
//   RATIO scan_overhead: direct time over view-model time (target at least 0.9).
// Exits non-zero when the two disagree on any clip's verdict.

#include "BenchSupport.hpp"
#include "ScanBenchData.hpp"

#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/ViewModels/FingerprintStages.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"

#include "Tessaline/Bookmarks/SecurityScopedBookmarkStore.hpp"
#include "Tessaline/Grouping/Grouper.hpp"
#include "Tessaline/Matcher/MatchVerifier.hpp"
#include "Tessaline/Matcher/Matcher.hpp"
#include "Tessaline/MetadataReader/CachingMetadataReader.hpp"
#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"
#include "Tessaline/Scanner/FolderScanner.hpp"
#include "Tessaline/Scanner/MediaClassifier.hpp"
#include "Tessaline/Support/DateText.hpp"
#include "Tessaline/Volumes/VolumeLabel.hpp"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace fs = std::filesystem;
using namespace tessaline;

namespace {

std::string verdicts(const VerificationReport& report) {
    std::string text;
    for (const auto& result : report.results) text += result.description() + "\n";
    return text;
}

// Fingerprints `all` on `threads` threads: photos, then videos, then audio, each in file
// order (the order a scan hands fingerprints to grouping and matching).
std::vector<Fingerprint> fingerprintAll(const std::vector<MediaFile>& all, MetadataReader& reader, int threads) {
    std::vector<MediaFile> files;
    for (int kind = 0; kind < 3; ++kind)
        for (const MediaFile& file : all)
            if ((MediaClassifier::isVideo(file.url) ? 1 : MediaClassifier::isAudio(file.url) ? 2 : 0) == kind)
                files.push_back(file);
    std::vector<Fingerprint> out(files.size());
    std::atomic<size_t> next{0};
    std::vector<std::jthread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (size_t i; (i = next.fetch_add(1)) < files.size();) out[i] = reader.fingerprint(files[i].url);
        });
    pool.clear();
    return out;
}

std::shared_ptr<FingerprintIndex> freshCache(const fs::path& cache) {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(cache.native() + suffix);
    return std::make_shared<FingerprintIndex>(cache);
}

VerificationReport direct(const bench::ScanBenchData& data, const fs::path& cache, int threads) {
    auto index = freshCache(cache);
    auto inner = std::make_shared<NativeMetadataReader>();
    const FolderScanner scanner;
    ScanResult card = scanner.scan(data.card, false);
    std::vector<Fingerprint> cardPrints;
    {
        CachingMetadataReader reader(inner, index, volumeLabel(data.card).value_or(data.card.string()), true, 500);
        cardPrints = fingerprintAll(card.mediaFiles, reader, threads);
    }
    ScanResult drive = scanner.scan(data.drive, false, data.card);
    std::vector<Fingerprint> drivePrints;
    {
        CachingMetadataReader reader(inner, index, volumeLabel(data.drive).value_or(data.drive.string()), true, 500);
        drivePrints = fingerprintAll(drive.mediaFiles, reader, threads);
    }
    auto groups = Grouper().group(cardPrints, card.sidecarFiles);
    auto claims = Matcher{5.0}.match(groups, drivePrints, data.card);
    auto proven = MatchVerifier(ChecksumEngine(4 << 20), data.card).verify(claims, drivePrints, [] { return false; });
    return VerificationReport(data.card, {data.drive}, nowEpoch(), std::move(proven), std::nullopt,
                              card.unreadableFolders);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path scratch = fs::absolute(bench::scratchFolder(argc, argv)) / "scan_overhead";
    const bench::ScanBenchData data =
        bench::ensureScanBenchData(fs::absolute(bench::scratchFolder(argc, argv)) / "scan_parallel/media", 2000);
    // The view model files its reports: keep its data folder and settings in the scratch folder.
    fs::create_directories(scratch / "data");
    setenv("XDG_DATA_HOME", (scratch / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    QCoreApplication app(argc, argv);

    const fs::path grants = scratch / "grants.json";
    fs::remove(grants);
    SecurityScopedBookmarkStore(grants).grant(data.drive);
    const fs::path cache = scratch / "cache.db";
    const int threads = brindlecove::FingerprintStages::defaultThreadCount();

    brindlecove::ScanViewModel::Dependencies dependencies;
    dependencies.dialogs.chooseFolder = [&](const brindlecove::FolderRequest&) {
        return std::optional<QString>(QFile::decodeName(QByteArray::fromStdString(data.card.string())));
    };
    dependencies.environment.bookmarkStoreURL = grants;
    dependencies.environment.fingerprintThreads = threads;
    dependencies.environment.openCache = [cache] { return freshCache(cache); };
    brindlecove::ScanViewModel model(std::move(dependencies));
    model.pickCard();

    auto viaModel = [&] {
        QEventLoop loop;
        QObject::connect(&model, &brindlecove::ScanViewModel::changed, &loop, [&] {
            if (!model.isRunning() && !model.runningNoun()) loop.quit();
        });
        const auto start = std::chrono::steady_clock::now();
        model.startScan(false);
        loop.exec();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };

    double best = 1e9, bestDirect = 1e9;
    std::string directVerdicts;
    for (int round = 0; round < 3; ++round) {
        best = std::min(best, viaModel());
        // Filing the report runs after the scan; let it finish outside the timings.
        brindlecove::Executor::shared().waitForDone(60'000);
        QCoreApplication::processEvents();
        const auto start = std::chrono::steady_clock::now();
        VerificationReport report = direct(data, cache, threads);
        bestDirect = std::min(bestDirect, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        directVerdicts = verdicts(report);
    }
    if (!model.lastReport() || verdicts(*model.lastReport()) != directVerdicts) {
        std::fprintf(stderr, "scan_overhead: the view model and the direct calls disagree\n--- model\n%s--- direct\n%s",
                     model.lastReport() ? verdicts(*model.lastReport()).c_str() : "none\n", directVerdicts.c_str());
        return 1;
    }
    std::fprintf(stderr, "scan_overhead: %d fingerprinting threads\n", threads);
    bench::printRatio("scan_overhead", best, bestDirect);
    return 0;
}
