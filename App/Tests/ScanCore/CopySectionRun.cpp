#include "CopySectionRun.hpp"

#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "Support/AppTestSandbox.hpp"

#include <gtest/gtest.h>

namespace brindlecove::testing {

namespace fs = std::filesystem;
using tessaline::CopyEngine;

namespace {

// The sandbox's path text and event-loop wait.
struct Sandbox : AppSandboxedTest {
    using AppSandboxedTest::qpath;
    using AppSandboxedTest::waitFor;
};

}  // namespace

CopySectionRun copyThroughCopySection(const fs::path& card, const fs::path& destination,
                                      std::function<void(const CopyEngine::Event&)> onEvent) {
    CopyViewModel::Dependencies dependencies;
    std::vector<fs::path> answers{card, destination};
    dependencies.dialogs.chooseFolder = [answers, n = 0](const FolderRequest&) mutable {
        return std::optional<QString>(Sandbox::qpath(answers.at(static_cast<size_t>(n++))));
    };
    dependencies.settle = {0.05, 10, 0.02};
    dependencies.archive = [](const tessaline::TransferLog&) { return std::optional<QString>(); };
    if (onEvent)
        dependencies.copy = [onEvent](const fs::path& from, const fs::path& to, const CopyEngine::Options& options,
                                      const tessaline::SettleOptions& settle, const CopyEngine::CancelTest& isCancelled,
                                      const CopyEngine::EventHandler& forward) {
            return CopyEngine().copy(from, to, options, settle, isCancelled, [&](const CopyEngine::Event& event) {
                onEvent(event);
                if (forward) forward(event);
            });
        };
    CopyViewModel model(std::move(dependencies));
    model.pickCard();
    model.pickDestination();
    model.start();
    EXPECT_TRUE(Sandbox::waitFor([&] { return !model.isRunning(); }, 120'000));
    CopySectionRun run{model.lastLog(), {}};
    EXPECT_TRUE(run.log);
    if (run.log) run.verdict = TransferTexts::copyVerdict(model.wasStopped(), *run.log);
    return run;
}

}  // namespace brindlecove::testing
