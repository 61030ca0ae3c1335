// The verified copy of a 2 GiB tree of 200 files through CopyViewModel (the worker posting
// every settle and progress event to the running event loop, the speed sampler on, the
// result applied on the main thread) against the copy engine called directly on the same
// files with the same options. Both do the same work: the engine is called as every caller
// calls it, off the thread of the event loop (on the user-initiated pool, as the view model
// does), with an event handler and a cancellation test, and both destinations are folders
// that exist when chosen, so each run is pinned to the volume its folder was chosen on.
// Both start with the page cache dropped and must prove every file with equal digests.
// RATIO is the engine's time over the view model's (1.0: no overhead); the target is at
// least 0.95. The settle wait is off for both (it is a fixed wait, not work), and filing
// into the log archive is left out (it runs after the result).
//
// Measured while looking for the view model's overhead: both runs read and write the same
// bytes (/proc/self/io), take the same page faults and CPU time (getrusage), and the view
// model's part outside the engine call (handing the run to the pool, applying the result)
// took 2-5 ms of a 4-7 s copy.

#include "BenchSupport.hpp"

#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "Tessaline/Copy/CopyEngine.hpp"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <atomic>
#include <cstdio>

namespace fs = std::filesystem;
using tessaline::CopyEngine;

namespace {

bool allVerified(const std::vector<CopyEngine::FileOutcome>& outcomes, size_t expected, const char* who) {
    if (outcomes.size() != expected) {
        std::fprintf(stderr, "copy_overhead: %s handled %zu of %zu files\n", who, outcomes.size(), expected);
        return false;
    }
    for (const auto& outcome : outcomes) {
        if (outcome.status.kind != CopyEngine::FileStatus::Kind::copiedVerified) {
            std::fprintf(stderr, "copy_overhead: %s: %s not verified: %s\n", who, outcome.relativePath.c_str(),
                         outcome.status.reason.value_or("").c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const fs::path scratch = bench::scratchFolder(argc, argv);
    const fs::path source = scratch / "copy-tree";
    const fs::path viaModel = scratch / "copy-overhead-model";
    const fs::path direct = scratch / "copy-overhead-engine";
    const auto tree = bench::ensurePatternTree(source, 200, uint64_t{2} << 30);
    const tessaline::SettleOptions noSettle = tessaline::SettleOptions::none();

    brindlecove::CopyViewModel::Dependencies dependencies;
    QStringList answers;
    dependencies.dialogs.chooseFolder = [&](const brindlecove::FolderRequest&) -> std::optional<QString> {
        if (answers.isEmpty()) return std::nullopt;
        return answers.takeFirst();
    };
    dependencies.settle = noSettle;
    dependencies.archive = [](const tessaline::TransferLog&) { return std::optional<QString>(); };
    brindlecove::CopyViewModel model(dependencies);
    // Chosen as a user chooses them: folders that exist.
    fs::create_directories(viaModel);
    fs::create_directories(direct);
    answers = {QFile::decodeName(source.c_str()), QFile::decodeName(viaModel.c_str())};
    model.pickCard();
    model.pickDestination();

    CopyEngine::Options options;  // as the view model sets them
    options.preserveStructure = true;
    options.verifyAfterCopy = true;
    options.skipIfDestinationVerifies = true;
    options.chunkSize = brindlecove::CopyViewModel::chunkSize;
    options.destinationVolume = tessaline::VolumePin::of(direct);

    double bestModel = 1e300, bestEngine = 1e300;
    CopyEngine::CopyRun engineRun;
    int progressUpdates = 0;
    QObject::connect(&model, &brindlecove::CopyViewModel::changed, [&] { ++progressUpdates; });
    auto runModel = [&] {
        fs::remove_all(viaModel);
        fs::create_directories(viaModel);
        bench::dropCaches();
        progressUpdates = 0;
        const double seconds = bench::secondsOf([&] {
            QEventLoop loop;
            auto connection = QObject::connect(&model, &brindlecove::CopyViewModel::changed, &loop, [&] {
                if (!model.isRunning()) loop.quit();
            });
            model.start();
            loop.exec();
            QObject::disconnect(connection);
        });
        bestModel = std::min(bestModel, seconds);
        const auto* done = std::get_if<brindlecove::CopyViewModel::DonePhase>(&model.phase());
        if (!done || !allVerified(done->log->outcomes, tree.size(), "view model")) return false;
        std::fprintf(stderr, "copy_overhead: view model %.3f s, %d updates applied, %lld speed samples\n", seconds,
                     progressUpdates, static_cast<long long>(model.progressHistory().size()));
        return true;
    };
    auto runEngine = [&] {
        fs::remove_all(direct);
        fs::create_directories(direct);
        bench::dropCaches();
        int events = 0;
        std::atomic<bool> stop{false};
        const double seconds = bench::secondsOf([&] {
            QEventLoop loop;
            brindlecove::Executor::shared().userInitiated([&] {
                engineRun = CopyEngine().copy(source, direct, options, noSettle, [&] { return stop.load(); },
                                              [&](const CopyEngine::Event&) { ++events; });
                QMetaObject::invokeMethod(&loop, [&] { loop.quit(); }, Qt::QueuedConnection);
            });
            loop.exec();
        });
        bestEngine = std::min(bestEngine, seconds);
        std::fprintf(stderr, "copy_overhead: engine %.3f s, %d events\n", seconds, events);
        return allVerified(engineRun.outcomes, tree.size(), "engine");
    };
    // Interleaved, each going first in turn, so both meet the same machine.
    for (int round = 0; round < 4; ++round) {
        const bool ok = round % 2 == 0 ? runModel() && runEngine() : runEngine() && runModel();
        if (!ok) return 1;
    }

    // Both ways must have proven the same digests for the same files.
    const auto& modelOutcomes = model.lastLog()->outcomes;
    for (size_t i = 0; i < modelOutcomes.size(); ++i) {
        if (modelOutcomes[i].relativePath != engineRun.outcomes[i].relativePath ||
            modelOutcomes[i].destinationChecksum != engineRun.outcomes[i].destinationChecksum) {
            std::fprintf(stderr, "copy_overhead: the two copies differ at %s\n", modelOutcomes[i].relativePath.c_str());
            return 1;
        }
    }
    fs::remove_all(viaModel);
    fs::remove_all(direct);
    // printRatio prints peer over ours: the engine's time over the view model's.
    bench::printRatio("copy_overhead", bestModel, bestEngine);
    return 0;
}
