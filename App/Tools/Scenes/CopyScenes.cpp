// Scenes of the Copy and Production Log sections: a verified copy of a generated card (clips
// made by ffmpeg, plus large clip-sized files) caught mid-way with its speed chart, the same
// copy finished, a long take caught half-way through its copy and its read-back, and the production log of a shoot day where some files failed.

#include "HeldRun.hpp"
#include "ScreenshotStudio.hpp"

#include "BrindlecoveApp/AppSection.hpp"
#include "BrindlecoveApp/ViewModels/CopyViewModel.hpp"
#include "BrindlecoveApp/ViewModels/WindowModels.hpp"
#include "BrindlecoveApp/Views/CopyView.hpp"
#include "BrindlecoveApp/Views/MainWindow.hpp"

#include "Tessaline/Copy/CopyError.hpp"
#include "Tessaline/Support/DateText.hpp"

#include <QDir>
#include <QFile>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

namespace brindlecove::tools {

namespace {

namespace fs = std::filesystem;
using tessaline::CopyEngine;

// A card folder with a few short clips and some large files standing in for long takes.
QString makeCard(const QString& home) {
    const QString clips = home + "/A_CAM/DCIM/100EOS5D";
    QDir().mkpath(clips);
    for (int i = 0; i < 4; ++i) {
        ScreenshotStudio::run(QStringLiteral("ffmpeg"),
                              {"-v", "error", "-y", "-f", "lavfi", "-i",
                               QStringLiteral("testsrc=duration=2:size=640x360:rate=25"), "-f", "lavfi", "-i",
                               QStringLiteral("sine=frequency=%1:duration=2").arg(440 + 110 * i), "-c:v", "libx264",
                               "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest",
                               clips + QStringLiteral("/MVI_%1.MOV").arg(4101 + i)});
    }
    std::mt19937_64 random(7);
    for (int i = 0; i < 4; ++i) {
        QFile take(clips + QStringLiteral("/MVI_%1.MOV").arg(4201 + i));
        if (!take.open(QIODevice::WriteOnly)) continue;
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (int mb = 0; mb < 48 + 8 * i; ++mb) {
            for (qsizetype b = 0; b + 8 <= block.size(); b += 8) {
                const uint64_t value = random();
                std::memcpy(block.data() + b, &value, 8);
            }
            take.write(block);
        }
    }
    return home + "/A_CAM";
}

// The real copy engine, slowed to a card reader's pace so the chart has something to draw.
CopyViewModel::Dependencies pacedCopy(QString card, QString destination) {
    CopyViewModel::Dependencies d;
    auto answers = std::make_shared<QStringList>(QStringList{card, destination});
    d.dialogs.chooseFolder = [answers](const FolderRequest&) -> std::optional<QString> {
        if (answers->isEmpty()) return std::nullopt;
        return answers->takeFirst();
    };
    d.archive = [](const tessaline::TransferLog&) { return std::optional<QString>(); };
    d.settle = {0.6, 10, 0.1};
    d.copy = [](const fs::path& from, const fs::path& to, const CopyEngine::Options& options,
                const tessaline::SettleOptions& settle, const CopyEngine::CancelTest& cancel,
                const CopyEngine::EventHandler& onEvent) {
        int step = 0;
        return CopyEngine().copy(from, to, options, settle, cancel, [&](const CopyEngine::Event& event) {
            onEvent(event);
            if (std::holds_alternative<CopyEngine::FileProgressEvent>(event))
                std::this_thread::sleep_for(std::chrono::milliseconds(90 + 60 * (step++ % 3)));
        });
    };
    return d;
}

// Shows `model` in `view` at the Copy screens' size, takes the folders its panels answer and
// starts its run.
void startInView(CopyViewModel& model, CopyView& view) {
    view.resize(760, 680);
    model.pickCard();
    model.pickDestination();
    model.start();
}

// A shoot day's copy of 240 clips onto a shuttle drive where four did not make it.
tessaline::TransferLog shootDay() {
    tessaline::TransferLog log;
    log.sourceURL = "/media/crew/B_CAM";
    log.destinationURL = "/media/crew/Shuttle/Day 03/B_CAM";
    log.finishedAt = tessaline::nowEpoch();
    log.startedAt = log.finishedAt - 2400;
    for (int i = 0; i < 240; ++i) {
        CopyEngine::FileOutcome outcome;
        outcome.relativePath = "PRIVATE/M4ROOT/CLIP/C" + std::to_string(1000 + i) + ".MP4";
        outcome.byteSize = 900'000'000 + (int64_t{i} * 37'000'000) % 2'100'000'000;
        const char* digits = "0123456789abcdef";
        std::string sum;
        for (int k = 0; k < 16; ++k) sum += digits[(i * 7 + k * 13 + (i >> k % 5)) % 16];
        outcome.sourceChecksum = sum;
        outcome.destinationChecksum = sum;
        if (i % 17 == 3) outcome.status = CopyEngine::FileStatus::skippedAlreadyPresent();
        else outcome.status = CopyEngine::FileStatus::copiedVerified();
        log.outcomes.push_back(outcome);
    }
    log.outcomes[2].status = CopyEngine::FileStatus::failed("Couldn't write the copy: No space left on device.");
    log.outcomes[2].destinationChecksum.reset();
    log.outcomes[5].status = CopyEngine::FileStatus::verificationFailed();
    log.outcomes[5].destinationChecksum = "9d04c1e7b2a3f6e0";
    log.outcomes[7].status = CopyEngine::FileStatus::failed("Couldn't read the card file: Input/output error.");
    log.outcomes[7].destinationChecksum.reset();
    log.outcomes[11].status = CopyEngine::FileStatus::verificationFailed("The copy changed while it was verified.");
    log.plannedFileCount = 240;
    log.plannedBytes = 0;
    for (const auto& outcome : log.outcomes) *log.plannedBytes += outcome.byteSize;
    return log;
}

}  // namespace

ScreenshotScene copy("40-copy", [](ScreenshotStudio& studio) {
    const QString card = makeCard(studio.home());
    const QString destination = studio.home() + "/Shuttle/Day 03/A_CAM";
    QDir().mkpath(destination);
    CopyViewModel model(pacedCopy(card, destination));
    CopyView view(model);
    startInView(model, view);
    // The first bytes moved: a speed may show, no estimate until a second of copying is sampled.
    ScreenshotStudio::waitFor(
        [&] {
            return std::holds_alternative<CopyViewModel::CopyingPhase>(model.phase()) || !model.isRunning();
        },
        60'000);
    studio.save(QStringLiteral("copy-starting"), &view);
    ScreenshotStudio::waitFor([&] { return model.progressHistory().size() >= 9 || !model.isRunning(); }, 60'000);
    studio.save(QStringLiteral("copy-in-progress"), &view);
    ScreenshotStudio::waitFor([&] { return !model.isRunning(); }, 120'000);
    ScreenshotStudio::wait(50);
    studio.save(QStringLiteral("copy-finished"), &view);
});

// The camera writes to the card while it is copied: the copy names what changed and does not
// call the card safe, on the Copy section and in the Production Log.
ScreenshotScene copyCardChanged("40-copy-card-changed", [](ScreenshotStudio& studio) {
    const QString card = studio.home() + "/C_CAM";
    QDir().mkpath(card + "/DCIM/100EOS5D");
    for (int i = 0; i < 3; ++i) {
        QFile take(card + QStringLiteral("/DCIM/100EOS5D/MVI_%1.MOV").arg(5101 + i));
        if (take.open(QIODevice::WriteOnly)) take.write(QByteArray(1 << 20, static_cast<char>('a' + i)));
    }
    const QString destination = studio.home() + "/Shuttle/Day 03/C_CAM";
    QDir().mkpath(destination);
    CopyViewModel::Dependencies d = pacedCopy(card, destination);
    d.settle = {0.1, 10, 0.05};
    d.copy = [card](const fs::path& from, const fs::path& to, const CopyEngine::Options& options,
                    const tessaline::SettleOptions& settle, const CopyEngine::CancelTest& cancel,
                    const CopyEngine::EventHandler& onEvent) {
        bool written = false;
        return CopyEngine().copy(from, to, options, settle, cancel, [&](const CopyEngine::Event& event) {
            onEvent(event);
            if (written || !std::holds_alternative<CopyEngine::FileFinishedEvent>(event)) return;
            written = true;
            QFile late(card + "/DCIM/100EOS5D/MVI_5104.MOV");
            if (late.open(QIODevice::WriteOnly)) late.write(QByteArray(4096, 'z'));
        });
    };
    CopyViewModel& model = studio.window().models().copy();
    CopyViewModel scratch(std::move(d));
    CopyView view(scratch);
    startInView(scratch, view);
    ScreenshotStudio::waitFor([&] { return !scratch.isRunning(); }, 60'000);
    ScreenshotStudio::wait(50);
    studio.save(QStringLiteral("copy-card-changed"), &view);
    model.setLastLog(scratch.lastLog());
    studio.window().select(AppSection::productionLog);
    ScreenshotStudio::wait(100);
    studio.save(QStringLiteral("production-log-card-changed"));
});

// A destination where the card's bytes may show, refused before anything is written, with
// the doubt in words: a disk image whose file this user can't locate.
ScreenshotScene copyRefused("40-copy-refused", [](ScreenshotStudio& studio) {
    const QString card = studio.home() + "/D_CAM";
    QDir().mkpath(card + "/DCIM/100EOS5D");
    const QString destination = studio.home() + "/Old image/D_CAM";
    QDir().mkpath(destination);
    CopyViewModel::Dependencies d = pacedCopy(card, destination);
    d.copy = [](const fs::path& from, const fs::path&, const CopyEngine::Options&, const tessaline::SettleOptions&,
                const CopyEngine::CancelTest&, const CopyEngine::EventHandler&) -> CopyEngine::CopyRun {
        throw tessaline::CopyError::destinationInsideSource(from, tessaline::ProofGround::Doubt::unidentified);
    };
    CopyViewModel model(std::move(d));
    CopyView view(model);
    startInView(model, view);
    ScreenshotStudio::waitFor([&] { return !model.isRunning(); }, 30'000);
    ScreenshotStudio::wait(50);
    studio.save(QStringLiteral("copy-refused"), &view);
});

// A card copied again onto a drive that holds it: the files already there are checked one by
// one, then the card is looked at again; each check caught while it runs.
ScreenshotScene copyChecking("40-copy-checking", [](ScreenshotStudio& studio) {
    const QString card = studio.home() + "/D_CAM";
    QDir().mkpath(card + "/DCIM/100EOS5D");
    for (int i = 0; i < 24; ++i) {
        QFile still(card + QStringLiteral("/DCIM/100EOS5D/IMG_%1.CR3").arg(6101 + i));
        if (still.open(QIODevice::WriteOnly)) still.write(QByteArray(256 << 10, static_cast<char>('a' + i)));
    }
    const QString destination = studio.home() + "/Shuttle/Day 03/D_CAM";
    QDir().mkpath(destination);
    CopyEngine().copy(fs::path(card.toStdString()), fs::path(destination.toStdString()), {},
                      tessaline::SettleOptions::none(), [] { return false; });
    // The engine holds at the 12th file checked on the drive and at the card's closing look
    // until the scene has taken its picture.
    auto held = std::make_shared<std::atomic<int>>(0);
    auto go = std::make_shared<std::atomic<int>>(0);
    CopyViewModel::Dependencies d = pacedCopy(card, destination);
    d.settle = {0.1, 10, 0.05};
    d.copy = [held, go](const fs::path& from, const fs::path& to, const CopyEngine::Options& options,
                        const tessaline::SettleOptions& settle, const CopyEngine::CancelTest& cancel,
                        const CopyEngine::EventHandler& onEvent) {
        return CopyEngine().copy(from, to, options, settle, cancel, [&](const CopyEngine::Event& event) {
            onEvent(event);
            const auto* check = std::get_if<CopyEngine::CheckingEvent>(&event);
            if (!check) return;
            const bool onDrive = check->phase == CopyEngine::CheckingEvent::Phase::filesOnDrive && check->done == 12;
            const bool cardAgain = check->phase == CopyEngine::CheckingEvent::Phase::cardAgain && check->done == 0;
            if (!onDrive && !cardAgain) return;
            const int stage = held->load() + 1;
            held->store(stage);
            for (int waited = 0; go->load() < stage && waited < 20'000; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        });
    };
    CopyViewModel model(std::move(d));
    CopyView view(model);
    startInView(model, view);
    for (const char* name : {"copy-checking-drive", "copy-checking-card"}) {
        const int stage = go->load() + 1;
        ScreenshotStudio::waitFor([&] { return held->load() >= stage || !model.isRunning(); }, 30'000);
        ScreenshotStudio::wait(150);
        studio.save(QString::fromLatin1(name), &view);
        go->store(stage);
    }
    ScreenshotStudio::waitFor([&] { return !model.isRunning(); }, 60'000);
});

ScreenshotScene copyReadingBack("42-copy-reading-back", [](ScreenshotStudio& studio) {
    const QString card = heldRun::makeTakes(studio.home() + "/F_CAM", 200, 3);
    const QString destination = studio.home() + "/Shuttle/F Cam";
    QDir().mkpath(destination);
    auto holds = std::make_shared<heldRun::Holds>();
    CopyViewModel::Dependencies d = pacedCopy(card, destination);
    d.settle = tessaline::SettleOptions::none();
    d.copy = [holds](const fs::path& from, const fs::path& to, const CopyEngine::Options& options,
                     const tessaline::SettleOptions& settle, const CopyEngine::CancelTest& cancel,
                     const CopyEngine::EventHandler& onEvent) {
        return CopyEngine().copy(from, to, options, settle, cancel, [&](const CopyEngine::Event& event) {
            onEvent(event);
            if (heldRun::halfWay(event, holds->held.load())) holds->hold();
        });
    };
    CopyViewModel model(std::move(d));
    CopyView view(model);
    startInView(model, view);
    auto over = [&] { return !model.isRunning(); };
    for (const char* name : {"copy-long-take", "copy-reading-back"}) {
        if (!holds->reached(over)) break;
        studio.save(QString::fromLatin1(name), &view);
        holds->release();
    }
    holds->release();
    ScreenshotStudio::waitFor(over, 60'000);
});

ScreenshotScene productionLog("41-production-log", [](ScreenshotStudio& studio) {
    studio.window().models().copy().setLastLog(std::make_shared<const tessaline::TransferLog>(shootDay()));
    studio.window().select(AppSection::productionLog);
    ScreenshotStudio::wait(100);
    studio.save(QStringLiteral("production-log-failures"));
});

}  // namespace brindlecove::tools
