#pragma once
// For scenes of long phases caught half-way: a card folder with one long take, the moment
// half-way through its copy and then through its read-back, and the hold that keeps the
// engine's thread there until the scene has taken its picture.

#include "ScreenshotStudio.hpp"

#include "Tessaline/Copy/CopyEngine.hpp"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QLatin1Char>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace brindlecove::tools::heldRun {

// A card folder with one long take of `takeMiB` and `shortClips` short ones of 6 MiB.
inline QString makeTakes(const QString& folder, int takeMiB, int shortClips) {
    const QString clips = folder + "/DCIM/100CANON";
    QDir().mkpath(clips);
    auto write = [&](const QString& name, int mib, char fill) {
        QFile file(clips + "/" + name);
        if (!file.open(QIODevice::WriteOnly)) return;
        QByteArray block(1 << 20, fill);
        for (int mb = 0; mb < mib; ++mb) {
            block[mb % block.size()] = static_cast<char>(mb);
            file.write(block);
        }
    };
    write(QStringLiteral("C0001.MP4"), takeMiB, 'a');
    for (int i = 0; i < shortClips; ++i) write(QStringLiteral("C%1.MP4").arg(2 + i, 4, 10, QLatin1Char('0')), 6, char('b' + i));
    return folder;
}

// Holds the thread that sends engine events, once per stage, until the scene lets it go.
struct Holds {
    std::atomic<int> held{0};
    std::atomic<int> released{0};
    void hold() {
        const int stage = held.load() + 1;
        held.store(stage);
        for (int waited = 0; released.load() < stage && waited < 30'000; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Waits (spinning the event loop) until the next stage is held, then lets the picture settle.
    bool reached(const std::function<bool()>& over) {
        const int stage = released.load() + 1;
        const bool ok = ScreenshotStudio::waitFor([&] { return held.load() >= stage || over(); }, 60'000);
        ScreenshotStudio::wait(200);
        return ok && held.load() >= stage;
    }
    void release() { released.store(released.load() + 1); }
};

// The first event half-way through the long take's copy, then its read-back.
inline bool halfWay(const tessaline::CopyEngine::Event& event, int stage) {
    if (const auto* progress = std::get_if<tessaline::CopyEngine::FileProgressEvent>(&event))
        return stage == 0 && progress->overallBytesCopied == progress->bytesCopiedThisFile &&
               progress->bytesCopiedThisFile * 2 >= progress->fileBytes;
    if (const auto* check = std::get_if<tessaline::CopyEngine::CheckingEvent>(&event))
        return stage == 1 && check->phase == tessaline::CopyEngine::CheckingEvent::Phase::readBack && check->done == 1 &&
               check->bytesRead * 2 >= check->bytesToRead;
    return false;
}

}  // namespace brindlecove::tools::heldRun
