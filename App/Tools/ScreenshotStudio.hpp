#pragma once
// The screenshot tool's stage: the application context with one main window, the output
// folder and the private home folder, and the scenes each section adds. A scene file in
// Tools/Scenes/ registers its scenes with a static ScreenshotScene object:
//     static ScreenshotScene scan("20-scan", [](ScreenshotStudio& studio) { ... studio.save("scan-idle", w); });
// Scenes run in the order of their keys, after the plain tour of the sections.

#include "BrindlecoveApp/Main/AppContext.hpp"

#include <QDir>
#include <QList>
#include <QSize>
#include <QString>

#include <functional>

namespace brindlecove::tools {

class ScreenshotStudio {
public:
    ScreenshotStudio(AppContext& context, MainWindow& window, QDir out, QString home);

    AppContext& context() { return context_; }
    MainWindow& window() { return window_; }
    // A private folder for generated cards, drives and media.
    const QString& home() const { return home_; }
    // Spins the event loop for `ms` milliseconds (background work comes back).
    static void wait(int ms);
    // Spins the event loop until `done` or `timeoutMs`; returns done().
    static bool waitFor(const std::function<bool()>& done, int timeoutMs = 60'000);
    // The window sizes every screen is looked at: its least size and its default size.
    static const QList<QSize>& windowSizes();
    // "<name>-<w>x<h>.png" for `size`.
    static QString sizedName(const QString& name, QSize size);
    // Writes the whole window at each of windowSizes() as "<name>-<w>x<h>.png". Writes a
    // screen shown on its own (`widget`) as "<name>.png" at its own size, and then at the
    // size the window's detail area has at each of windowSizes() unless `atWindowSizes` is
    // false (a window of its own, such as the preview). At those sizes (the window's too) the
    // scroll areas holding `inView` (when given) are scrolled to show it. False on any failure.
    bool save(const QString& name, QWidget* widget = nullptr, bool atWindowSizes = true, QWidget* inView = nullptr);
    // Writes `base` with the open popup `popup` (a list, a menu) drawn over it where it stands
    // on the screen, as "<name>.png"; the part of the popup beyond `base` is drawn too, on a
    // grey margin, so a list wider than its window shows as such. False on any failure.
    bool saveWithPopup(const QString& name, QWidget& base, QWidget& popup);
    // Runs a program with arguments (no shell); true when it exited 0.
    static bool run(const QString& program, const QStringList& arguments);

private:
    bool grab(QWidget& widget, const QString& fileName);

    AppContext& context_;
    MainWindow& window_;
    QDir out_;
    QString home_;
};

class ScreenshotScene {
public:
    using Body = std::function<void(ScreenshotStudio&)>;
    ScreenshotScene(const char* key, Body body);

    // Runs every registered scene in key order.
    static void runAll(ScreenshotStudio& studio);
};

}  // namespace brindlecove::tools
