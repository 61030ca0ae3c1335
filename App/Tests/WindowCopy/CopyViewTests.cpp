// The Copy section offscreen over a real CopyViewModel and the real copy engine: the form,
// what is enabled while a copy runs, the progress rows with the speed chart, and the verdict.

#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/Views/CopyView.hpp"
#include "BrindlecoveApp/Views/ElidedLabel.hpp"
#include "BrindlecoveApp/Views/TrendChart.hpp"
#include "Support/AppTestSandbox.hpp"

#include "Tessaline/Copy/CopyError.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <atomic>
#include <deque>
#include <future>

#include <gtest/gtest.h>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;
using tessaline::CopyEngine;
using tessaline::testing::writePatternFile;
namespace fs = std::filesystem;

namespace {

class CopyViewTest : public AppSandboxedTest {
protected:
    std::deque<QString> answers;
    std::promise<void> reached;
    std::promise<void> go;
    std::shared_future<void> goFuture = go.get_future().share();
    std::atomic<bool> holdAfterFirstFile{false};
    std::atomic<bool> holdInReadBack{false};
    std::atomic<bool> released{false};
    double clockNow = 0;

    // The real engine; with holdAfterFirstFile it waits after the first file until `go`.
    // The clock moves half a second per reading, so every progress update is sampled.
    CopyViewModel::Dependencies dependencies() {
        CopyViewModel::Dependencies d;
        d.dialogs.chooseFolder = [this](const FolderRequest&) -> std::optional<QString> {
            if (answers.empty()) return std::nullopt;
            QString answer = answers.front();
            answers.pop_front();
            return answer;
        };
        d.settle = {0.05, 10, 0.02};
        d.archive = [](const tessaline::TransferLog&) { return std::optional<QString>(); };
        d.clock = [this] { return clockNow += 0.5; };
        d.copy = [this](const fs::path& card, const fs::path& destination, const CopyEngine::Options& options,
                        const tessaline::SettleOptions& settle, const CopyEngine::CancelTest& cancel,
                        const CopyEngine::EventHandler& onEvent) {
            bool held = false;
            return CopyEngine().copy(card, destination, options, settle, cancel, [&](const CopyEngine::Event& event) {
                onEvent(event);
                const auto* check = std::get_if<CopyEngine::CheckingEvent>(&event);
                const bool midReadBack = check && check->phase == CopyEngine::CheckingEvent::Phase::readBack &&
                                         check->bytesRead > 0 && check->bytesRead < check->bytesToRead;
                if ((holdAfterFirstFile && !held && std::holds_alternative<CopyEngine::FileFinishedEvent>(event)) ||
                    (holdInReadBack && !held && midReadBack)) {
                    held = true;
                    reached.set_value();
                    goFuture.wait();
                }
            });
        };
        return d;
    }

    fs::path makeCard(int count) {
        fs::path card = sandbox / "card";
        for (int i = 0; i < count; ++i)
            writePatternFile(card / "DCIM" / ("CLIP_" + std::to_string(i) + ".MOV"),
                             i == 0 ? 20 * 1024 * 1024 + 3 : 1000 + static_cast<size_t>(i), static_cast<unsigned>(i + 7));
        return card;
    }

    template <class T>
    static T* find(QWidget& view, const char* name) {
        T* child = view.findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(child) << name;
        return child;
    }

    static bool shown(QWidget& view, const char* name) {
        QWidget* child = view.findChild<QWidget*>(QString::fromLatin1(name));
        return child && child->isVisibleTo(&view);
    }

    static QString text(QWidget& view, const char* name) {
        QLabel* label = view.findChild<QLabel*>(QString::fromLatin1(name));
        return label ? label->text() : QStringLiteral("<missing %1>").arg(QString::fromLatin1(name));
    }

    // Lets a held engine go on (at most once; also when a test failed while it was held).
    void release() {
        if (!released.exchange(true)) go.set_value();
    }
    void TearDown() override {
        release();
        AppSandboxedTest::TearDown();
    }

    bool waitForReached() {
        auto future = reached.get_future();
        return waitFor([&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 60'000);
    }
};

}  // namespace

TEST_F(CopyViewTest, TheFormFollowsARunFromChoiceToVerdict) {
    const fs::path card = makeCard(4);
    CopyViewModel model(dependencies());
    CopyView view(model);
    view.resize(700, 800);

    EXPECT_EQ(text(view, "copy.noCard"), "No card selected.");
    EXPECT_EQ(text(view, "copy.noDestination"), "No destination selected.");
    EXPECT_TRUE(shown(view, "copy.noCard"));
    EXPECT_FALSE(find<QPushButton>(view, "copy.start")->isEnabled());
    EXPECT_FALSE(shown(view, "copy.stop"));
    for (const char* page : {"copy.settling", "copy.copying", "copy.done", "copy.failed"})
        EXPECT_FALSE(shown(view, page)) << page;
    EXPECT_TRUE(find<QCheckBox>(view, "copy.preserve")->isChecked());
    EXPECT_EQ(text(view, "copy.preserveCaption"), "Mirror the card's DCIM/folder layout into the destination.");

    find<QCheckBox>(view, "copy.preserve")->click();
    EXPECT_FALSE(model.preserveStructure());
    drainEvents();
    EXPECT_EQ(text(view, "copy.preserveCaption"), "Copy every file into the destination folder, flattened.");
    find<QCheckBox>(view, "copy.preserve")->click();

    answers = {qpath(card), qpath(sandbox / "backup")};
    find<QPushButton>(view, "copy.chooseCard")->click();
    find<QPushButton>(view, "copy.chooseDestination")->click();
    drainEvents();
    EXPECT_EQ(view.findChild<ElidedLabel*>("copy.cardPath")->fullText(), qpath(card));
    EXPECT_EQ(view.findChild<ElidedLabel*>("copy.destinationPath")->fullText(), qpath(sandbox / "backup"));
    EXPECT_FALSE(shown(view, "copy.noCard"));
    ASSERT_TRUE(find<QPushButton>(view, "copy.start")->isEnabled());

    holdAfterFirstFile = true;
    find<QPushButton>(view, "copy.start")->click();
    view.render();
    EXPECT_TRUE(shown(view, "copy.settling"));
    EXPECT_EQ(text(view, "copy.settlingText"), "Waiting for card to finish writing… 0.0s");
    EXPECT_TRUE(shown(view, "copy.stop"));
    EXPECT_FALSE(find<QPushButton>(view, "copy.start")->isEnabled());
    EXPECT_FALSE(find<QPushButton>(view, "copy.chooseCard")->isEnabled());
    EXPECT_FALSE(find<QPushButton>(view, "copy.chooseDestination")->isEnabled());
    EXPECT_FALSE(find<QCheckBox>(view, "copy.preserve")->isEnabled());

    // Held after the first (20 MiB) file: three progress updates, the first marking where
    // copying began, the other two sampled (a second of copying: an estimate shows).
    ASSERT_TRUE(waitForReached());
    ASSERT_TRUE(waitFor([&] { return model.progressHistory().size() >= 2; }));
    drainEvents();
    ASSERT_TRUE(shown(view, "copy.copying"));
    const auto* copying = std::get_if<CopyViewModel::CopyingPhase>(&model.phase());
    ASSERT_TRUE(copying);
    auto* bar = find<QProgressBar>(view, "copy.progress");
    EXPECT_EQ(bar->maximum(), 10000);
    EXPECT_EQ(bar->value(), static_cast<int>(copying->overallBytesCopied * 10000 / copying->overallBytes));
    EXPECT_EQ(text(view, "copy.fileLine"), "Copying CLIP_0.MOV — file 1 of 4");
    EXPECT_TRUE(text(view, "copy.bytes").endsWith(" of 21 MB")) << text(view, "copy.bytes").toStdString();
    EXPECT_TRUE(shown(view, "copy.speed"));
    EXPECT_TRUE(text(view, "copy.speed").endsWith("/s"));
    EXPECT_TRUE(text(view, "copy.estimate").startsWith("~")) << text(view, "copy.estimate").toStdString();
    EXPECT_TRUE(text(view, "copy.estimate").endsWith(" remaining"));
    auto* chart = find<TrendChart>(view, "copy.speedChart");
    EXPECT_TRUE(chart->isVisibleTo(&view));
    EXPECT_EQ(chart->points().size(), model.progressHistory().size());
    EXPECT_DOUBLE_EQ(chart->points().back().y(), model.progressHistory().back().mbPerSec);

    release();
    ASSERT_TRUE(waitFor([&] { return !model.isRunning(); }, 60'000));
    drainEvents();
    EXPECT_TRUE(shown(view, "copy.done"));
    EXPECT_EQ(text(view, "copy.verdict"), "All 4 files copied and verified byte-for-byte");
    EXPECT_EQ(find<QLabel>(view, "copy.verdictSymbol")->property("symbol").toString(), "checkmark.seal.fill");
    EXPECT_EQ(text(view, "copy.counts"), "Verified 4 · Already present 0 · Failed 0");
    EXPECT_EQ(text(view, "copy.hint"), "See the Production Log tab to export the verified transfer log (PDF / ASC-MHL).");
    EXPECT_FALSE(shown(view, "copy.stop"));
    EXPECT_TRUE(find<QPushButton>(view, "copy.start")->isEnabled());
    EXPECT_TRUE(find<QPushButton>(view, "copy.chooseCard")->isEnabled());

    // The same card again: every file is already there.
    const auto firstLog = model.lastLog();
    holdAfterFirstFile = false;
    find<QPushButton>(view, "copy.start")->click();
    EXPECT_TRUE(model.isRunning());
    ASSERT_TRUE(waitFor([&] { return !model.isRunning(); }, 60'000));
    drainEvents();
    EXPECT_EQ(text(view, "copy.verdict"), "All 4 files copied and verified byte-for-byte");
    ASSERT_TRUE(model.lastLog());
    EXPECT_NE(model.lastLog(), firstLog);
    EXPECT_EQ(text(view, "copy.counts").toStdString(), "Verified 0 · Already present 4 · Failed 0")
        << model.lastLog()->summary();
}

TEST_F(CopyViewTest, StopShowsTheStoppedVerdictAndARefusedRunShowsTheEngineSentence) {
    // More files than one batch writes ahead, so the stop leaves some of them uncopied.
    const fs::path card = makeCard(70);
    CopyViewModel model(dependencies());
    CopyView view(model);
    answers = {qpath(card), qpath(sandbox / "backup")};
    model.pickCard();
    model.pickDestination();
    holdAfterFirstFile = true;
    model.start();
    ASSERT_TRUE(waitForReached());
    drainEvents();
    find<QPushButton>(view, "copy.stop")->click();
    release();
    ASSERT_TRUE(waitFor([&] { return !model.isRunning(); }, 60'000));
    drainEvents();
    // The files copied ahead of the stop in the first file's batch count too: each is proven
    // and at the destination, and the stopped run's log lists it.
    ASSERT_TRUE(model.lastLog());
    EXPECT_GE(model.lastLog()->fileCount(), 1);
    EXPECT_EQ(text(view, "copy.verdict"), QStringLiteral("Stopped early — %1 files finished before the stop. The card "
                                                         "was NOT fully copied.")
                                              .arg(model.lastLog()->fileCount()));
    EXPECT_EQ(find<QLabel>(view, "copy.verdictSymbol")->property("symbol").toString(), "stop.circle.fill");

    holdAfterFirstFile = false;
    answers = {qpath(card / "DCIM")};
    model.pickDestination();
    model.start();
    ASSERT_TRUE(waitFor([&] { return !model.isRunning(); }, 60'000));
    drainEvents();
    EXPECT_TRUE(shown(view, "copy.failed"));
    EXPECT_FALSE(shown(view, "copy.done"));
    EXPECT_EQ(text(view, "copy.failure").toStdString(), tessaline::CopyError::destinationInsideSource(card).what());
    EXPECT_EQ(find<QLabel>(view, "copy.failureSymbol")->property("symbol").toString(), "exclamationmark.triangle.fill");
}

TEST_F(CopyViewTest, ARunOfZeroBytesShowsAnIndeterminateBarWithoutSpeedEstimateOrChart) {
    // The engine reports no progress for empty files; these events stand for one that would.
    auto d = dependencies();
    d.copy = [this](const fs::path&, const fs::path&, const CopyEngine::Options&, const tessaline::SettleOptions&,
                    const CopyEngine::CancelTest&, const CopyEngine::EventHandler& onEvent) {
        onEvent(CopyEngine::PlannedEvent{2, 0});
        onEvent(CopyEngine::FileStartedEvent{"EMPTY_1.MOV", 0, 2});
        onEvent(CopyEngine::FileProgressEvent{0, 0, 0, 0});
        reached.set_value();
        goFuture.wait();
        onEvent(CopyEngine::FileProgressEvent{0, 0, 0, 0});
        return CopyEngine::CopyRun{{}, false, 0, 0};
    };
    CopyViewModel model(std::move(d));
    CopyView view(model);
    answers = {qpath(sandbox / "card"), qpath(sandbox / "backup")};
    model.pickCard();
    model.pickDestination();
    model.start();
    ASSERT_TRUE(waitForReached());
    ASSERT_TRUE(waitFor([&] { return std::holds_alternative<CopyViewModel::CopyingPhase>(model.phase()); }));
    drainEvents();
    auto* bar = find<QProgressBar>(view, "copy.progress");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 0) << "indeterminate";
    EXPECT_EQ(text(view, "copy.fileLine"), "Copying EMPTY_1.MOV — file 1 of 2");
    EXPECT_EQ(text(view, "copy.bytes"), "Zero KB of Zero KB");
    EXPECT_FALSE(shown(view, "copy.speed"));
    EXPECT_FALSE(shown(view, "copy.estimate"));
    EXPECT_FALSE(shown(view, "copy.speedChart"));
    release();
    ASSERT_TRUE(waitFor([&] { return !model.isRunning(); }, 60'000));
    EXPECT_TRUE(model.progressHistory().isEmpty()) << "no samples of a run without bytes";
    drainEvents();
    EXPECT_EQ(text(view, "copy.verdict"), "Copy complete");
    EXPECT_EQ(text(view, "copy.counts"), "Verified 0 · Already present 0 · Failed 0");
}

TEST_F(CopyViewTest, AReadBackShowsItsBytesAndNoEstimateOfCopyingLeft) {
    const fs::path card = makeCard(1);
    CopyViewModel model(dependencies());
    CopyView view(model);
    view.resize(700, 800);
    answers = {qpath(card), qpath(sandbox / "backup")};
    find<QPushButton>(view, "copy.chooseCard")->click();
    find<QPushButton>(view, "copy.chooseDestination")->click();
    drainEvents();

    // Held half-way through reading the only file's copy back: every byte is copied, so an
    // estimate of copying left would say nothing is left while the read-back still runs.
    holdInReadBack = true;
    find<QPushButton>(view, "copy.start")->click();
    ASSERT_TRUE(waitForReached());
    ASSERT_TRUE(waitFor([&] {
        drainEvents();
        const auto* copying = std::get_if<CopyViewModel::CopyingPhase>(&model.phase());
        return copying && copying->readBack;
    }));
    EXPECT_EQ(text(view, "copy.fileLine"), "Verifying CLIP_0.MOV — file 1 of 1");
    EXPECT_TRUE(text(view, "copy.bytes").endsWith(" read back")) << text(view, "copy.bytes").toStdString();
    EXPECT_FALSE(shown(view, "copy.estimate")) << text(view, "copy.estimate").toStdString();

    release();
    ASSERT_TRUE(waitFor([&] { return !model.isRunning(); }, 60'000));
    drainEvents();
    EXPECT_TRUE(shown(view, "copy.done"));
    EXPECT_EQ(text(view, "copy.counts").toStdString(), "Verified 1 · Already present 0 · Failed 0");
}
