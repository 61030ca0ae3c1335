#pragma once
// The Erase Card section's widget tests' stage: a sandbox folder that a scripted backend
// treats as an erasable card (its identity, count, walk and erase held or answered as a test
// says), reports of it, and the section over it with a scan and reformat view model of its
// own. Main thread.

#include "EraseViewTest.hpp"

#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/ViewModels/CardPrepViewModel.hpp"
#include "BrindlecoveApp/ViewModels/DriveFormatViewModel.hpp"
#include "BrindlecoveApp/ViewModels/ScanViewModel.hpp"
#include "BrindlecoveApp/Views/CardPrepView.hpp"
#include "BrindlecoveApp/Views/SymbolLabel.hpp"

#include <QFile>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace brindlecove::testing {

namespace fs = std::filesystem;
using tessaline::MatchStatus;
using tessaline::VerificationReport;
using tessaline::VolumeIdentity;
using ReportPtr = std::shared_ptr<const VerificationReport>;

// A report of the card at `root` with one clip per status.
inline ReportPtr reportOf(const fs::path& root, const VolumeIdentity& identity, std::vector<MatchStatus> statuses) {
    std::vector<tessaline::MatchResult> results;
    int i = 0;
    for (auto& status : statuses) {
        tessaline::MatchResult result;
        result.group.primaryFiles.push_back(
            tessaline::Fingerprint{.url = root / ("IMG_" + std::to_string(i++) + ".JPG"), .byteSize = 10});
        result.status = std::move(status);
        results.push_back(std::move(result));
    }
    return std::make_shared<const VerificationReport>(root, std::vector<fs::path>{}, 0.0, std::move(results), identity,
                                                      std::vector<fs::path>{}, std::vector<tessaline::OtherFile>{},
                                                      std::vector<tessaline::CardFileRecord>{});
}

// A sandbox folder that the scripted backend treats as an erasable card.
struct ScriptedCard {
    fs::path root;
    VolumeIdentity identity{std::string("1111-2222"), std::string("CARD"), std::nullopt, std::nullopt};
    std::optional<tessaline::CardPrepEngine::CardRootIssue> issue;
    std::atomic<uint64_t> mountId{7};  // a remount gives another
    CardContents contents{3, 2, 2'500'000, CardFiles{}};
    std::atomic<bool> holdCount{false};
    std::atomic<bool> holdErase{false};  // the erase runs until released
    std::atomic<bool> erasing{false};    // the erase was handed to the engine
    std::atomic<bool> holdWalk{false};   // the safe erase's walk of the card runs until released
    std::function<tessaline::CardPrepEngine::Summary()> summary;
    // When set, the erase tells its plan and its first file deleted before it holds, as the
    // engine does for a card of one folder: `filesPlanned` files in DCIM.
    int filesPlanned = 0;

    ScriptedCard() = default;
    ScriptedCard(const ScriptedCard&) = delete;
    ScriptedCard& operator=(const ScriptedCard&) = delete;
    // The backend's calls run on the application's workers and read this card: a test that
    // ends while one is held (or before a stopped erase's worker has seen the stop) releases
    // it and waits for it, so no worker reads a card that is gone.
    ~ScriptedCard() {
        holdCount = false;
        holdErase = false;
        holdWalk = false;
        EXPECT_TRUE(Executor::shared().waitForDone(60'000)) << "a worker of the scripted card did not end";
    }

    CardPrepBackend backend() {
        CardPrepBackend b;
        b.validate = [this](const fs::path&) {
            tessaline::CardPrepEngine::CheckedCard checked;
            if (issue) checked.issue = issue;
            else checked.card = tessaline::CardPrepEngine::CardFacts{root, 42, std::string("1111-2222"), mountId};
            return checked;
        };
        b.readIdentity = [this](const fs::path&) { return std::optional<VolumeIdentity>(identity); };
        b.computePreview = [this](const fs::path&) {
            while (holdCount) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return contents;
        };
        b.prepare = [this](const fs::path&, const auto&, const auto&, const auto&, const auto& onEvent, const auto&) {
            using Engine = tessaline::CardPrepEngine;
            if (filesPlanned > 0 && onEvent) {
                onEvent(Engine::Planned{1, 2'500'000, filesPlanned});
                onEvent(Engine::Deleting{"DCIM", 0, 1});
                onEvent(Engine::FilesDeleted{1, filesPlanned});
            }
            erasing = true;
            while (holdErase) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return summary();
        };
        b.walkCardFiles = [this](const fs::path&) {
            while (holdWalk) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return std::optional<tessaline::CardFileSet>(tessaline::CardFileSet{});
        };
        b.deviceOf = [this](const fs::path& path) {
            return path == root ? std::optional<dev_t>(42) : std::optional<dev_t>();
        };
        return b;
    }

    ReportPtr report(std::vector<MatchStatus> statuses) const { return reportOf(root, identity, std::move(statuses)); }
};

class CardPrepViewTest : public EraseViewTest<CardPrepView> {
protected:
    void SetUp() override {
        AppSandboxedTest::SetUp();
        card.root = sandbox / "CARD";
        fs::create_directories(card.root);
        CardPrepViewModel::Dependencies deps;
        deps.backend = card.backend();
        vm = std::make_unique<CardPrepViewModel>(deps);
        scan = std::make_unique<ScanViewModel>(ScanViewModel::Dependencies{});
        DriveFormatViewModel::Dependencies formatDeps;
        formatDeps.backend.listCandidates = [] { return std::vector<tessaline::VolumeInfo>{}; };
        format = std::make_unique<DriveFormatViewModel>(formatDeps);
        view = std::make_unique<CardPrepView>(*vm, *scan, *format);
    }
    SymbolLabel* banner() { return find<SymbolLabel>("erase.banner"); }
    void pick() {
        vm->takeCard(QFile::decodeName(QByteArray::fromStdString(card.root.string())));
        ASSERT_TRUE(waitFor([&] { return !vm->isBusy(); }));
        view->render();
    }
    void type(const char* name, const QString& text) {
        edit(name, text);
        view->render();
    }

    ScriptedCard card;
    std::unique_ptr<CardPrepViewModel> vm;
    std::unique_ptr<ScanViewModel> scan;
    std::unique_ptr<DriveFormatViewModel> format;
};

}  // namespace brindlecove::testing
