// The verified copy run through CopyViewModel with the real copy engine on real folders (and,
// as root, real loop-mounted drives): phases and events in order, the transfer log, Stop,
// refused destinations, a drive pulled mid-copy, and filing into the log archive.

#include "BrindlecoveApp/AppEvents.hpp"
#include "BrindlecoveApp/LogArchiveProvider.hpp"
#include "BrindlecoveApp/Platform/RemovableMounts.hpp"
#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/TransferTexts.hpp"
#include "Support/AppTestSandbox.hpp"

#include "Tessaline/Copy/CopyError.hpp"

#include <QSignalSpy>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <future>
#include <variant>

#include <gtest/gtest.h>

#include <set>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;
using tessaline::CopyEngine;
using tessaline::TransferLog;
using tessaline::testing::LoopVolume;
using tessaline::testing::readFile;
using tessaline::testing::writePatternFile;
namespace fs = std::filesystem;
using Kind = CopyEngine::FileStatus::Kind;

namespace {

// Holds the engine on its worker after the first file until the test lets it go.
struct Gate {
    std::promise<void> reached;
    std::shared_future<void> reachedFuture = reached.get_future().share();
    std::promise<void> go;
    std::shared_future<void> goFuture = go.get_future().share();
    std::atomic<bool> fired{false};
    std::atomic<bool> released{false};
    void release() {
        if (!released.exchange(true)) go.set_value();
    }
};

class CopyViewModelTest : public AppSandboxedTest {
protected:
    std::deque<std::optional<QString>> answers;
    std::vector<FolderRequest> requests;
    std::shared_ptr<std::atomic<int>> archived = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<int>> engineCalls = std::make_shared<std::atomic<int>>(0);
    std::vector<std::shared_ptr<Gate>> gates;

    // A gate released at the latest when the test ends, so a failed test never leaves a
    // worker waiting.
    std::shared_ptr<Gate> makeGate() {
        gates.push_back(std::make_shared<Gate>());
        return gates.back();
    }
    void TearDown() override {
        for (auto& gate : gates) gate->release();
        AppSandboxedTest::TearDown();
    }

    // The real engine, held on its worker at `gate` once the first file finished.
    static CopyViewModel::CopyRunner heldAfterFirstFile(std::shared_ptr<Gate> gate) {
        return [gate](const fs::path& c, const fs::path& d, const CopyEngine::Options& o,
                      const tessaline::SettleOptions& s, const CopyEngine::CancelTest& cancel,
                      const CopyEngine::EventHandler& onEvent) {
            return CopyEngine().copy(c, d, o, s, cancel, [&](const CopyEngine::Event& event) {
                onEvent(event);
                if (std::holds_alternative<CopyEngine::FileFinishedEvent>(event) && !gate->fired.exchange(true)) {
                    gate->reached.set_value();
                    gate->goFuture.wait();
                }
            });
        };
    }

    // Spins the event loop until the engine holds at `gate`.
    static bool waitUntilHeld(const Gate& gate) {
        return waitFor([&] { return gate.reachedFuture.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    }

    CopyViewModel::Dependencies dependencies(CopyViewModel::CopyRunner runner = {}) {
        CopyViewModel::Dependencies d;
        d.dialogs.chooseFolder = [this](const FolderRequest& request) -> std::optional<QString> {
            requests.push_back(request);
            if (answers.empty()) return std::nullopt;
            auto answer = answers.front();
            answers.pop_front();
            return answer;
        };
        d.settle = {0.05, 10, 0.02};
        d.archive = [archived = archived](const TransferLog&) {
            ++*archived;
            return std::optional<QString>();
        };
        if (!runner) {
            runner = [](const fs::path& card, const fs::path& destination, const CopyEngine::Options& options,
                        const tessaline::SettleOptions& settle, const CopyEngine::CancelTest& cancel,
                        const CopyEngine::EventHandler& onEvent) {
                return CopyEngine().copy(card, destination, options, settle, cancel, onEvent);
            };
        }
        d.copy = [calls = engineCalls, runner](const fs::path& card, const fs::path& destination,
                                               const CopyEngine::Options& options, const tessaline::SettleOptions& settle,
                                               const CopyEngine::CancelTest& cancel, const CopyEngine::EventHandler& onEvent) {
            ++*calls;
            return runner(card, destination, options, settle, cancel, onEvent);
        };
        return d;
    }

    // A card of `count` files: DCIM/100TEST/CLIP_<i>.MOV, the first one 9 MiB (several
    // progress events), the others small.
    fs::path makeCard(int count, const std::string& name = "card") {
        fs::path card = sandbox / name;
        for (int i = 0; i < count; ++i)
            writePatternFile(card / "DCIM" / "100TEST" / ("CLIP_" + std::to_string(i) + ".MOV"),
                             i == 0 ? 9 * 1024 * 1024 + 17 : 40'000 + static_cast<size_t>(i), static_cast<unsigned>(i + 1));
        return card;
    }

    void choose(CopyViewModel& model, const fs::path& card, const fs::path& destination) {
        answers = {qpath(card), qpath(destination)};
        model.pickCard();
        model.pickDestination();
    }

    static bool finish(CopyViewModel& model) { return waitFor([&] { return !model.isRunning(); }, 120'000); }

    // Copies `card` to `destination`, clicks Stop while the engine holds at `gate`, lets it go
    // on and waits for the run to end. False when the engine never held or the run never ended.
    bool stopWhileHeld(CopyViewModel& model, const fs::path& card, const fs::path& destination, Gate& gate) {
        choose(model, card, destination);
        model.start();
        if (!waitUntilHeld(gate)) return false;
        model.stop();
        gate.release();
        return finish(model);
    }

    static std::shared_ptr<const TransferLog> doneLog(const CopyViewModel& model) {
        const auto* done = std::get_if<CopyViewModel::DonePhase>(&model.phase());
        return done ? done->log : nullptr;
    }
};

}  // namespace

TEST_F(CopyViewModelTest, CopiesACardBetweenFoldersWithPhasesInOrderAndKeepsTheLog) {
    const fs::path card = makeCard(5);
    const fs::path destination = sandbox / "backup";
    fs::create_directories(destination);
    CopyViewModel model(dependencies());
    EXPECT_FALSE(model.canStart());
    EXPECT_TRUE(std::holds_alternative<CopyViewModel::IdlePhase>(model.phase()));

    answers = {qpath(card)};
    model.pickCard();
    EXPECT_FALSE(model.canStart()) << "one folder is not enough";
    answers = {qpath(destination)};
    model.pickDestination();
    ASSERT_TRUE(model.canStart());
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].prompt, "Select Card");
    EXPECT_EQ(requests[0].message, "Pick the SD card to copy from.");
    EXPECT_EQ(requests[1].prompt, "Select Destination");
    EXPECT_EQ(requests[1].message, "Pick the drive/folder to copy verified files to.");
    for (const auto& request : requests) {
        EXPECT_EQ(request.startFolder, RemovableMounts::parentFolder());
        EXPECT_TRUE(request.canCreateFolders);
    }

    std::vector<CopyViewModel::Phase> phases;
    QObject::connect(&model, &CopyViewModel::changed, [&] { phases.push_back(model.phase()); });
    QSignalSpy lastLogChanges(&model, &CopyViewModel::lastLogChanged);
    QSignalSpy archivedPosts(&AppEvents::instance(), &AppEvents::logArchived);

    model.start();
    EXPECT_EQ(model.phase(), CopyViewModel::Phase(CopyViewModel::SettlingPhase{0}));
    EXPECT_FALSE(model.canStart());
    EXPECT_EQ(model.runningNoun(), QStringLiteral("copy"));
    model.start();  // a double click starts nothing
    model.setPreserveStructure(false);  // read once, at the start
    ASSERT_TRUE(finish(model));
    EXPECT_EQ(engineCalls->load(), 1);
    EXPECT_FALSE(model.runningNoun());

    // Settling until the first progress update, then copying with indices and bytes that
    // never go back, then done.
    ASSERT_GE(phases.size(), 4u);
    size_t i = 0;
    while (i < phases.size() && std::holds_alternative<CopyViewModel::SettlingPhase>(phases[i])) ++i;
    ASSERT_GT(i, 0u);
    int lastIndex = 0;
    int64_t lastBytes = 0;
    int copying = 0;
    for (; i + 1 < phases.size(); ++i) {
        const auto* step = std::get_if<CopyViewModel::CopyingPhase>(&phases[i]);
        if (!step) continue;  // the switch's own change
        ++copying;
        EXPECT_GE(step->fileIndex, lastIndex);
        EXPECT_GE(step->overallBytesCopied, lastBytes);
        EXPECT_EQ(step->fileTotal, 5);
        EXPECT_EQ(step->overallBytes, 9 * 1024 * 1024 + 17 + 4 * 40'000 + 1 + 2 + 3 + 4);
        EXPECT_TRUE(step->fileName.startsWith("CLIP_")) << step->fileName.toStdString();
        lastIndex = step->fileIndex;
        lastBytes = step->overallBytesCopied;
    }
    EXPECT_GE(copying, 5);
    EXPECT_EQ(lastIndex, 4);

    auto log = doneLog(model);
    ASSERT_TRUE(log);
    EXPECT_EQ(model.lastLog(), log);
    EXPECT_EQ(lastLogChanges.count(), 1);
    EXPECT_FALSE(model.wasStopped());
    EXPECT_TRUE(log->allVerified());
    EXPECT_EQ(log->plannedFileCount, 5);
    EXPECT_EQ(log->plannedBytes, log->totalBytes());
    EXPECT_TRUE(log->preserveStructure) << "the switch turned after the start does not reach the run";
    EXPECT_EQ(log->sourceURL, card);
    EXPECT_EQ(log->destinationURL, destination);
    EXPECT_LE(log->startedAt, log->finishedAt);
    for (int f = 0; f < 5; ++f) {
        const fs::path relative = fs::path("DCIM") / "100TEST" / ("CLIP_" + std::to_string(f) + ".MOV");
        EXPECT_EQ(readFile(destination / relative), readFile(card / relative));
    }
    EXPECT_TRUE(model.canStart()) << "a finished run may be followed by another";

    ASSERT_TRUE(waitFor([&] { return archivedPosts.count() >= 1; }));
    drainEvents();
    EXPECT_EQ(archived->load(), 1);
    EXPECT_EQ(archivedPosts.count(), 1);
}

// The speed and the estimate rest on bytes moved while copying. The clock here is the copy's
// own: the settle wait lasts 30 s, then the bytes move at exactly 10 MB/s (the time read is
// 30 s plus the bytes shown so far over 10 MB/s), whatever the machine's real pace.
TEST_F(CopyViewModelTest, SpeedAndEstimateComeFromBytesMovedWhileCopyingNeverFromTheSettleWait) {
    const fs::path card = makeCard(8, "paced");
    writePatternFile(card / "DCIM" / "100TEST" / "CLIP_00.MOV", 48 * 1024 * 1024, 77);  // first, six chunks
    constexpr double settleSeconds = 30, bytesPerSecond = 10'000'000;
    const CopyViewModel* watched = nullptr;
    double latest = 0;  // the clock never goes back once copying is over
    auto deps = dependencies();
    deps.clock = [&] {
        if (watched)
            if (const auto* copying = std::get_if<CopyViewModel::CopyingPhase>(&watched->phase()))
                latest = settleSeconds + static_cast<double>(copying->overallBytesCopied) / bytesPerSecond;
        return latest;
    };
    CopyViewModel model(deps);
    watched = &model;

    struct Shown {
        bool copying = false;
        int64_t copied = 0;
        int64_t total = 0;
        std::optional<double> estimate;
        double speed = 0;
        qsizetype samples = 0;
    };
    std::vector<Shown> shown;
    QObject::connect(&model, &CopyViewModel::changed, [&] {
        const auto* copying = std::get_if<CopyViewModel::CopyingPhase>(&model.phase());
        shown.push_back({copying != nullptr, copying ? copying->overallBytesCopied : 0,
                         copying ? copying->overallBytes : 0, model.estimatedSecondsRemaining(),
                         model.currentBytesPerSec(), model.progressHistory().size()});
    });
    choose(model, card, sandbox / "backup");
    model.start();
    ASSERT_TRUE(finish(model));

    const auto first = std::find_if(shown.begin(), shown.end(), [](const Shown& s) { return s.copying; });
    ASSERT_NE(first, shown.end());
    for (auto it = shown.begin(); it != first; ++it) {
        EXPECT_FALSE(it->estimate) << "nothing to estimate from while the card settles";
        EXPECT_EQ(it->speed, 0);
    }
    EXPECT_FALSE(first->estimate) << "one chunk moved at an unknown moment is no basis";
    EXPECT_EQ(first->speed, 0);
    int estimates = 0;
    for (auto it = first; it != shown.end(); ++it) {
        if (!it->copying) continue;
        if (it->speed > 0) EXPECT_NEAR(it->speed, bytesPerSecond, 1.0) << "at " << it->copied << " bytes";
        // Updates closer than a sample's interval leave the last sample's values standing.
        const bool sampled = it != shown.begin() && it->samples > std::prev(it)->samples;
        if (!it->estimate || !sampled) continue;
        ++estimates;
        EXPECT_GE(static_cast<double>(it->copied - first->copied), bytesPerSecond * CopySpeedSampler::estimateBasis)
            << "an estimate only once a second of copying was sampled";
        EXPECT_NEAR(*it->estimate, static_cast<double>(it->total - it->copied) / bytesPerSecond, 1e-3);
    }
    EXPECT_GE(estimates, 2);
}

// The checks that copy nothing say what they do and how far they are: a card copied again
// shows its files checked on the drive one by one (never the settle wait's label any more),
// then the card looked at again, counted up to its files, before the run ends.
TEST_F(CopyViewModelTest, ChecksThatCopyNothingShowWhatTheyDoAndHowFar) {
    using Check = CopyEngine::CheckingEvent;
    const fs::path card = makeCard(5);
    const fs::path destination = sandbox / "backup";
    fs::create_directories(destination);
    CopyViewModel model(dependencies());
    choose(model, card, destination);
    for (const bool again : {false, true}) {
        SCOPED_TRACE(again ? "copied again" : "first copy");
        std::vector<CopyViewModel::Phase> phases;
        auto connection = QObject::connect(&model, &CopyViewModel::changed, [&] { phases.push_back(model.phase()); });
        model.start();
        ASSERT_TRUE(finish(model));
        QObject::disconnect(connection);

        std::vector<Check> onDrive, cardAgain;
        bool settlingAfterWork = false;
        bool working = false;
        for (const auto& phase : phases) {
            if (std::holds_alternative<CopyViewModel::SettlingPhase>(phase)) settlingAfterWork |= working;
            if (std::holds_alternative<CopyViewModel::CopyingPhase>(phase)) {
                working = true;
                EXPECT_TRUE(cardAgain.empty()) << "copying after the closing look began";
            }
            if (const auto* checking = std::get_if<CopyViewModel::CheckingPhase>(&phase)) {
                working = true;
                (checking->check.phase == Check::Phase::filesOnDrive ? onDrive : cardAgain).push_back(checking->check);
            }
        }
        EXPECT_FALSE(settlingAfterWork);
        auto log = doneLog(model);
        ASSERT_TRUE(log);
        EXPECT_TRUE(log->allVerified());
        EXPECT_EQ(log->skippedCount(), again ? 5 : 0);
        if (again) {
            // One file after the other; the first (the batch's live one) also counts the bytes
            // it reads, its card file's and the drive's; the others, written ahead, do not.
            std::vector<int> files;
            for (const Check& check : onDrive)
                if (files.empty() || files.back() != check.done) files.push_back(check.done);
            EXPECT_EQ(files, (std::vector<int>{1, 2, 3, 4, 5}));
            EXPECT_EQ(onDrive.front(), (Check{Check::Phase::filesOnDrive, 1, 5, 0, 2 * (9 * 1024 * 1024 + 17)}));
            EXPECT_EQ(onDrive.back(), (Check{Check::Phase::filesOnDrive, 5, 5}));
            EXPECT_EQ(TransferTexts::checking(onDrive.back()), "Checking files already on the drive… 5 of 5");
        } else {
            EXPECT_TRUE(onDrive.empty());
        }
        ASSERT_GE(cardAgain.size(), 2u);
        EXPECT_EQ(cardAgain.front(), (Check{Check::Phase::cardAgain, 0, 5}));
        EXPECT_EQ(cardAgain.back(), (Check{Check::Phase::cardAgain, 5, 5}));
        EXPECT_EQ(TransferTexts::checking(cardAgain.back()), "Checking the card again… 5 of 5");
    }
}

// A big file does not freeze the section while its copy is read back, nor when a second run
// compares it with the drive's copy: both count the bytes they read, rising to the end, in
// the words the section shows.
TEST_F(CopyViewModelTest, ReadBackAndComparisonOfABigFileShowTheirBytesMoving) {
    using Check = CopyEngine::CheckingEvent;
    const int64_t big = int64_t{320} << 20;
    const fs::path card = sandbox / "bigcard";
    writePatternFile(card / "DCIM/100TEST/A001.MOV", static_cast<size_t>(big), 7);
    writePatternFile(card / "DCIM/100TEST/A002.MOV", 50'000, 8);
    const fs::path destination = sandbox / "backup";
    fs::create_directories(destination);
    CopyViewModel model(dependencies());
    choose(model, card, destination);

    // The byte counts of one check of the big file, as the section saw them, in order.
    auto expectRising = [&](const std::vector<Check>& seen, int64_t toRead) {
        ASSERT_GE(seen.size(), 10u) << "a 320 MiB read reports as it goes";
        EXPECT_EQ(seen.front().bytesRead, 0);
        EXPECT_EQ(seen.back().bytesRead, toRead);
        for (size_t i = 1; i < seen.size(); ++i) {
            EXPECT_GT(seen[i].bytesRead, seen[i - 1].bytesRead);
            EXPECT_EQ(seen[i].bytesToRead, toRead);
            EXPECT_EQ(seen[i].done, 1);
            EXPECT_EQ(seen[i].total, 2);
        }
    };

    // First run: the big file's copy, then its read-back, shown with the file it proves.
    std::vector<Check> readBack;
    std::vector<CopyViewModel::Phase> phases;
    auto connection = QObject::connect(&model, &CopyViewModel::changed, [&] { phases.push_back(model.phase()); });
    model.start();
    ASSERT_TRUE(finish(model));
    QObject::disconnect(connection);
    int64_t copiedBeforeReadBack = -1;
    for (const auto& phase : phases) {
        const auto* copying = std::get_if<CopyViewModel::CopyingPhase>(&phase);
        if (!copying) continue;
        if (!copying->readBack) {
            // Once read back, the big file shows whole (its read-back over) until the next file.
            EXPECT_TRUE(readBack.empty() || copying->fileIndex == 1 || copying->overallBytesCopied == big)
                << "the big file copied again after its read-back";
            copiedBeforeReadBack = copying->overallBytesCopied;
            continue;
        }
        EXPECT_EQ(copying->readBack->phase, Check::Phase::readBack);
        if (copying->readBack->done != 1) continue;  // the small file's own, at once
        EXPECT_EQ(copying->fileName, "A001.MOV");
        EXPECT_EQ(copying->overallBytesCopied, big) << "read back once its copy is whole";
        EXPECT_EQ(copiedBeforeReadBack, big);
        readBack.push_back(*copying->readBack);
    }
    expectRising(readBack, big);
    EXPECT_EQ(TransferTexts::verifyingFile("A001.MOV", 0, 2), "Verifying A001.MOV — file 1 of 2");
    EXPECT_EQ(TransferTexts::checkedBytes(readBack[readBack.size() / 2]).value_or(QString()).endsWith(" read back"), true);
    EXPECT_EQ(TransferTexts::checkedBytes(readBack.back()),
              TransferTexts::bytesOf(big, big) + QStringLiteral(" read back"));
    auto log = doneLog(model);
    ASSERT_TRUE(log);
    EXPECT_TRUE(log->allVerified());

    // Second run: the big file compared with the drive's copy, both read.
    std::vector<Check> compared;
    connection = QObject::connect(&model, &CopyViewModel::changed, [&] {
        const auto* checking = std::get_if<CopyViewModel::CheckingPhase>(&model.phase());
        if (checking && checking->check.done == 1) compared.push_back(checking->check);
    });
    model.start();
    ASSERT_TRUE(finish(model));
    QObject::disconnect(connection);
    expectRising(compared, 2 * big);
    EXPECT_EQ(compared.back().phase, Check::Phase::filesOnDrive);
    EXPECT_DOUBLE_EQ(TransferTexts::checkedFraction(compared[compared.size() / 2]),
                     static_cast<double>(compared[compared.size() / 2].bytesRead) / static_cast<double>(2 * big));
    EXPECT_EQ(TransferTexts::checkedBytes(compared.back()),
              TransferTexts::bytesOf(2 * big, 2 * big) + QStringLiteral(" compared"));
    log = doneLog(model);
    ASSERT_TRUE(log);
    EXPECT_EQ(log->skippedCount(), 2);
}

TEST_F(CopyViewModelTest, CancelledPanelsChangeNothingAndPanelsAreNotOfferedDuringARun) {
    const fs::path card = makeCard(3);
    const fs::path destination = sandbox / "backup";
    fs::create_directories(destination);
    auto gate = makeGate();
    CopyViewModel model(dependencies(heldAfterFirstFile(gate)));
    choose(model, card, destination);
    answers = {std::nullopt};
    model.pickCard();
    EXPECT_EQ(model.cardPath(), qpath(card)) << "a cancelled panel keeps the folder";

    model.start();
    ASSERT_TRUE(waitUntilHeld(*gate));
    const size_t asked = requests.size();
    answers = {qpath(sandbox / "elsewhere"), qpath(sandbox / "elsewhere")};
    model.pickCard();
    model.pickDestination();
    EXPECT_EQ(requests.size(), asked) << "no panel while a copy runs";
    EXPECT_EQ(model.cardPath(), qpath(card));
    EXPECT_EQ(model.destinationPath(), qpath(destination));
    model.start();
    gate->release();
    ASSERT_TRUE(finish(model));
    EXPECT_EQ(engineCalls->load(), 1) << "no second worker";
    ASSERT_TRUE(doneLog(model));
    EXPECT_TRUE(doneLog(model)->allVerified());

    // Choosing a folder after the run returns to idle and keeps the log.
    auto log = model.lastLog();
    answers = {qpath(destination)};
    model.pickDestination();
    EXPECT_TRUE(std::holds_alternative<CopyViewModel::IdlePhase>(model.phase()));
    EXPECT_EQ(model.lastLog(), log);
}

TEST_F(CopyViewModelTest, StopBetweenFilesEndsDoneWithAStoppedLogAndKeepsTheSpeedValues) {
    // More files than one batch writes ahead, so the stop leaves some of them uncopied.
    const fs::path card = makeCard(70);
    const fs::path destination = sandbox / "backup";
    auto gate = makeGate();
    CopyViewModel model(dependencies(heldAfterFirstFile(gate)));
    ASSERT_TRUE(stopWhileHeld(model, card, destination, *gate));

    auto log = doneLog(model);
    ASSERT_TRUE(log);
    EXPECT_TRUE(model.wasStopped());
    EXPECT_TRUE(log->wasCancelled);
    EXPECT_GE(log->fileCount(), 1);
    EXPECT_EQ(log->plannedFileCount, 70);
    EXPECT_LT(log->fileCount(), 70);
    EXPECT_EQ(log->standing().kind, TransferLog::TransferStanding::Kind::cancelledIncomplete);
    // Nothing unproven is left at the destination: the first file's copy, and copies proven
    // ahead of the stop in the same batch (a proven copy under its final name stays), each a
    // whole copy of its card file; no temporary file. The stopped run's log lists exactly
    // those copies, as verified.
    std::set<fs::path> onDisk, listed;
    for (const auto& entry : fs::recursive_directory_iterator(destination)) {
        if (!entry.is_regular_file()) continue;
        onDisk.insert(entry.path());
        EXPECT_NE(entry.path().filename().native().front(), '.') << entry.path();
        EXPECT_EQ(readFile(entry.path()), readFile(card / fs::relative(entry.path(), destination))) << entry.path();
    }
    for (const auto& outcome : log->outcomes) {
        EXPECT_EQ(outcome.status.kind, tessaline::CopyEngine::FileStatus::Kind::copiedVerified);
        listed.insert(outcome.destinationURL);
    }
    EXPECT_EQ(listed, onDisk);
    ASSERT_TRUE(waitFor([&] { return archived->load() == 1; })) << "a stopped run's log is filed too";
}

// A Stop that comes when nothing is left to cut short: during the last file (the engine
// finishes a file it started), after the engine proved every file of its last batch, or
// after the last file was verified and the engine returned. The run is complete: the view
// model does not call it stopped and the archived log carries no stopped or failed tag.
// Holds the engine once the large last file has started (its events sent live, one batch of
// its own: it is larger than a batch writes ahead).
static CopyViewModel::CopyRunner duringLargeFile(std::shared_ptr<Gate> gate) {
    return [gate](const fs::path& c, const fs::path& d, const CopyEngine::Options& o, const tessaline::SettleOptions& s,
                  const CopyEngine::CancelTest& cancel, const CopyEngine::EventHandler& onEvent) {
        return CopyEngine().copy(c, d, o, s, cancel, [&](const CopyEngine::Event& event) {
            onEvent(event);
            const auto* progress = std::get_if<CopyEngine::FileProgressEvent>(&event);
            if (progress && progress->fileBytes > (int64_t{256} << 20) && progress->bytesCopiedThisFile > 0 &&
                !gate->fired.exchange(true)) {
                gate->reached.set_value();
                gate->goFuture.wait();
            }
        });
    };
}

// Stop inside a file larger than a batch: the file is cut off at once, not counted, and
// nothing of it stays at the destination; the run ends stopped with the files before it.
TEST_F(CopyViewModelTest, AStopInsideALargeFileCutsItOffAndTheRunEndsStopped) {
    const fs::path card = makeCard(4, "large");
    writePatternFile(card / "DCIM" / "100TEST" / "CLIP_9.MOV", (size_t{260} << 20) + 5, 99);
    auto gate = makeGate();
    CopyViewModel model(dependencies(duringLargeFile(gate)));
    const fs::path destination = sandbox / "backup";
    choose(model, card, destination);
    model.start();
    ASSERT_TRUE(waitUntilHeld(*gate));
    model.stop();
    const auto stoppedAt = std::chrono::steady_clock::now();
    gate->release();
    ASSERT_TRUE(finish(model));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - stoppedAt).count(), 1.0);

    auto log = doneLog(model);
    ASSERT_TRUE(log);
    EXPECT_TRUE(model.wasStopped());
    EXPECT_TRUE(log->wasCancelled);
    EXPECT_EQ(log->plannedFileCount, 5);
    EXPECT_EQ(log->verifiedCount(), 4);
    EXPECT_EQ(log->unhandledCount(), 1);
    EXPECT_FALSE(fs::exists(destination / "DCIM" / "100TEST" / "CLIP_9.MOV"));
    for (const auto& entry : fs::recursive_directory_iterator(destination))
        EXPECT_FALSE(entry.path().filename().native().ends_with(".part")) << entry.path();
    EXPECT_EQ(TransferTexts::copyVerdict(model.wasStopped(), *log).text,
              QStringLiteral("Stopped early — 4 files finished before the stop. The card was NOT fully copied."));
}

TEST_F(CopyViewModelTest, AStopThatCutNothingShortLeavesACompleteUnstoppedRun) {
    struct Case {
        const char* name;
        std::function<CopyViewModel::CopyRunner(std::shared_ptr<Gate>)> runner;
        fs::path card;
        int files = 0;
    };
    auto afterReturn = [](std::shared_ptr<Gate> gate) -> CopyViewModel::CopyRunner {
        return [gate](const fs::path& c, const fs::path& d, const CopyEngine::Options& o,
                      const tessaline::SettleOptions& s, const CopyEngine::CancelTest& cancel,
                      const CopyEngine::EventHandler& onEvent) {
            auto run = CopyEngine().copy(c, d, o, s, cancel, onEvent);
            gate->reached.set_value();
            gate->goFuture.wait();
            return run;
        };
    };
    // One batch holds the whole small card.
    const fs::path small = makeCard(4, "small");
    const Case cases[] = {
        {"inside the last batch", [](std::shared_ptr<Gate> gate) { return heldAfterFirstFile(gate); }, small, 4},
        {"after the engine returned", afterReturn, small, 4}};
    int round = 0;
    for (const Case& c : cases) {
        const fs::path& card = c.card;
        SCOPED_TRACE(c.name);
        auto filed = std::make_shared<std::optional<tessaline::ArchivedLog>>();
        auto filedCount = std::make_shared<std::atomic<int>>(0);
        auto gate = makeGate();
        auto d = dependencies(c.runner(gate));
        d.archive = [filed, filedCount](const TransferLog& log) {
            *filed = LogArchiveProvider::shared().archiveTransfer(log);
            ++*filedCount;
            return std::optional<QString>();
        };
        CopyViewModel model(std::move(d));
        const fs::path destination = sandbox / ("backup" + std::to_string(round++));
        ASSERT_TRUE(stopWhileHeld(model, card, destination, *gate));

        auto log = doneLog(model);
        ASSERT_TRUE(log);
        EXPECT_FALSE(log->wasCancelled) << log->summary();
        EXPECT_TRUE(log->allVerified()) << log->summary();
        EXPECT_EQ(log->verifiedCount(), c.files);
        EXPECT_FALSE(model.wasStopped());
        for (const auto& outcome : log->outcomes)
            EXPECT_EQ(fs::file_size(outcome.destinationURL), fs::file_size(outcome.sourceURL)) << outcome.relativePath;
        const auto verdict = TransferTexts::copyVerdict(model.wasStopped(), *log);
        EXPECT_EQ(verdict.text, QStringLiteral("All %1 files copied and verified byte-for-byte").arg(c.files));
        EXPECT_EQ(TransferTexts::copyCounts(*log), QStringLiteral("Verified %1 · Already present 0 · Failed 0").arg(c.files));

        ASSERT_TRUE(waitFor([&] { return filedCount->load() == 1; }));
        ASSERT_TRUE(filed->has_value());
        EXPECT_FALSE((*filed)->wasStopped);
        EXPECT_FALSE((*filed)->hasProblem);
    }
}

TEST_F(CopyViewModelTest, StopDuringTheSettleWaitEndsWithAnEmptyStoppedLog) {
    const fs::path card = makeCard(2);
    auto d = dependencies();
    d.settle = {30, 60, 0.05};
    CopyViewModel model(std::move(d));
    choose(model, card, sandbox / "backup");
    model.start();
    ASSERT_TRUE(waitFor([&] {
        const auto* settling = std::get_if<CopyViewModel::SettlingPhase>(&model.phase());
        return settling && settling->quietRemaining > 1;
    }));
    model.stop();
    ASSERT_TRUE(finish(model));
    auto log = doneLog(model);
    ASSERT_TRUE(log);
    EXPECT_TRUE(model.wasStopped());
    EXPECT_TRUE(log->wasCancelled);
    EXPECT_TRUE(log->outcomes.empty());
    EXPECT_EQ(log->plannedFileCount, 0);
    EXPECT_EQ(log->plannedBytes, 0);
    EXPECT_FALSE(fs::exists(sandbox / "backup" / "DCIM"));
}

TEST_F(CopyViewModelTest, ADestinationInsideTheCardOrAnUnreadableCardFailsAndKeepsThePreviousLog) {
    const fs::path card = makeCard(2);
    CopyViewModel model(dependencies());
    choose(model, card, sandbox / "backup");
    model.start();
    ASSERT_TRUE(finish(model));
    const auto first = model.lastLog();
    ASSERT_TRUE(first);
    ASSERT_TRUE(waitFor([&] { return archived->load() == 1; }));

    for (const fs::path& inside : {card, card / "DCIM" / "Backup"}) {
        if (inside != card) fs::create_directories(inside);
        answers = {qpath(inside)};
        model.pickDestination();
        model.start();
        ASSERT_TRUE(finish(model));
        const auto* failed = std::get_if<CopyViewModel::FailedPhase>(&model.phase());
        ASSERT_TRUE(failed) << inside;
        EXPECT_EQ(failed->message.toStdString(), tessaline::CopyError::destinationInsideSource(card).what());
        EXPECT_EQ(model.lastLog(), first);
        EXPECT_TRUE(model.canStart()) << "a failed run may be tried again";
    }
    EXPECT_TRUE(fs::is_empty(card / "DCIM" / "Backup")) << "nothing was copied into the card";

    answers = {qpath(sandbox / "no-such-card"), qpath(sandbox / "backup")};
    model.pickCard();
    model.pickDestination();
    model.start();
    ASSERT_TRUE(finish(model));
    const auto* failed = std::get_if<CopyViewModel::FailedPhase>(&model.phase());
    ASSERT_TRUE(failed);
    EXPECT_TRUE(failed->message.startsWith("Couldn't read the card at ")) << failed->message.toStdString();
    EXPECT_EQ(model.lastLog(), first);
    drainEvents();
    EXPECT_EQ(archived->load(), 1) << "a failed run files nothing";
}

TEST_F(CopyViewModelTest, FinishedLogsAreFiledIntoTheArchiveAndAFailedFilingStillPostsOnce) {
    const fs::path card = makeCard(2);
    auto d = dependencies();
    d.archive = {};  // the application's archive
    CopyViewModel model(std::move(d));
    QSignalSpy posts(&AppEvents::instance(), &AppEvents::logArchived);
    choose(model, card, sandbox / "backup");
    model.start();
    ASSERT_TRUE(finish(model));
    ASSERT_TRUE(waitFor([&] { return posts.count() >= 1; }));
    {
        auto access = LogArchiveProvider::shared().resolve();
        auto logs = access->list();
        ASSERT_EQ(logs.size(), 1u);
        EXPECT_EQ(logs[0].kind, tessaline::LogKind::transfer);
        EXPECT_FALSE(logs[0].hasProblem);
    }

    auto failing = dependencies();
    failing.archive = [](const TransferLog&) -> std::optional<QString> { throw std::runtime_error("disk full"); };
    CopyViewModel second(std::move(failing));
    choose(second, card, sandbox / "backup2");
    second.start();
    ASSERT_TRUE(finish(second));
    ASSERT_TRUE(waitFor([&] { return posts.count() >= 2; }));
    drainEvents();
    EXPECT_EQ(posts.count(), 2);
}

TEST_F(CopyViewModelTest, ALogFiledElsewhereThanShownSaysSoUntilTheNextRun) {
    const fs::path card = makeCard(2);
    auto d = dependencies();
    d.archive = [](const TransferLog&) {
        return std::optional<QString>(QStringLiteral("This log couldn't be saved in the logs folder (why) — it "
                                                     "was saved in /elsewhere instead."));
    };
    CopyViewModel model(std::move(d));
    choose(model, card, sandbox / "backup");
    model.start();
    ASSERT_TRUE(finish(model));
    ASSERT_TRUE(waitFor([&] { return model.filingNotice().has_value(); }));
    EXPECT_TRUE(model.filingNotice()->endsWith("saved in /elsewhere instead."));
    answers = {qpath(sandbox / "backup2")};
    model.pickDestination();
    model.start();
    EXPECT_FALSE(model.filingNotice()) << "a new run starts without the last run's notice";
    ASSERT_TRUE(finish(model));
}

TEST_F(CopyViewModelTest, AViewModelDestroyedMidCopyStopsTheRunAndItsLogIsStillFiled) {
    const fs::path card = makeCard(6);
    auto gate = makeGate();
    auto model = std::make_unique<CopyViewModel>(
        dependencies(heldAfterFirstFile(gate)));
    choose(*model, card, sandbox / "backup");
    model->start();
    ASSERT_TRUE(waitUntilHeld(*gate));
    model.reset();
    gate->release();
    ASSERT_TRUE(waitFor([&] { return archived->load() == 1; }));
    drainEvents();  // the dropped posts of the gone view model run nothing
}

TEST_F(CopyViewModelTest, CopiesOntoALoopMountedDrive) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 64, "COPYDRIVE");
    const fs::path card = makeCard(4);
    CopyViewModel model(dependencies());
    choose(model, card, drive.mountPoint() / "Backup");
    model.start();
    ASSERT_TRUE(finish(model));
    auto log = doneLog(model);
    ASSERT_TRUE(log);
    EXPECT_TRUE(log->allVerified()) << log->summary();
    EXPECT_EQ(readFile(drive.mountPoint() / "Backup" / "DCIM" / "100TEST" / "CLIP_0.MOV"),
              readFile(card / "DCIM" / "100TEST" / "CLIP_0.MOV"));
}

TEST_F(CopyViewModelTest, TheChosenDriveConnectedAgainIsCopiedToAndAnotherDriveInItsPlaceIsNot) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 64, "AGAINDRIVE");
    const fs::path card = makeCard(3);
    const fs::path mountPoint = drive.mountPoint();
    fs::create_directories(mountPoint / "Backup");
    CopyViewModel model(dependencies());
    choose(model, card, mountPoint / "Backup");
    drive.unmount();
    drive.remount();  // a new mount of the same file system
    model.start();
    ASSERT_TRUE(finish(model));
    ASSERT_TRUE(doneLog(model));
    EXPECT_TRUE(doneLog(model)->allVerified()) << doneLog(model)->summary();

    // Another drive mounted where the chosen one was: nothing is written to it.
    drive.unmount();
    LoopVolume other("ext4", 64, "OTHERDRIVE", false);
    tessaline::testing::ScopedMount otherMounted({"-t", "ext4", other.device()}, mountPoint);
    fs::create_directories(mountPoint / "Backup");
    model.start();
    ASSERT_TRUE(finish(model));
    auto log = doneLog(model);
    ASSERT_TRUE(log);
    EXPECT_EQ(log->failedCount(), 3) << log->summary();
    EXPECT_TRUE(fs::is_empty(mountPoint / "Backup"));
}

TEST_F(CopyViewModelTest, ADrivePulledMidCopyFailsEveryFileNotWrittenAndNothingLandsOnTheSystemDisk) {
    TESSALINE_REQUIRE_ROOT();
    LoopVolume drive("ext4", 64, "PULLDRIVE");
    const fs::path card = makeCard(6);
    const fs::path mountPoint = drive.mountPoint();
    fs::create_directories(mountPoint / "Backup");
    std::atomic<bool> pulled{false};
    CopyViewModel model(dependencies([&](const fs::path& c, const fs::path& d, const CopyEngine::Options& o,
                                         const tessaline::SettleOptions& s, const CopyEngine::CancelTest& cancel,
                                         const CopyEngine::EventHandler& onEvent) {
        return CopyEngine().copy(c, d, o, s, cancel, [&](const CopyEngine::Event& event) {
            onEvent(event);
            const auto* finished = std::get_if<CopyEngine::FileFinishedEvent>(&event);
            if (finished && finished->index == 1 && !pulled.exchange(true)) drive.unmountLazily();
        });
    }));
    choose(model, card, mountPoint / "Backup");
    model.start();
    ASSERT_TRUE(finish(model));
    auto log = doneLog(model);
    ASSERT_TRUE(log);
    ASSERT_EQ(log->fileCount(), 6);
    EXPECT_EQ(log->outcomes[0].status.kind, Kind::copiedVerified);
    EXPECT_EQ(log->outcomes[1].status.kind, Kind::copiedVerified);
    // Files written ahead in a batch fail their read-back; later ones fail to be written.
    for (size_t i = 2; i < log->outcomes.size(); ++i) {
        const auto kind = log->outcomes[i].status.kind;
        EXPECT_TRUE(kind == Kind::failed || kind == Kind::verificationFailed) << log->outcomes[i].relativePath;
    }
    EXPECT_EQ(log->failedCount(), 4);
    EXPECT_FALSE(log->allVerified());
    EXPECT_EQ(log->standing().kind, TransferLog::TransferStanding::Kind::hasFailures);
    // The mount point is a bare folder of the system disk now: nothing was written there.
    std::error_code error;
    EXPECT_TRUE(!fs::exists(mountPoint, error) || fs::is_empty(mountPoint, error));
}
