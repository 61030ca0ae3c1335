// Renders every section of a main window and the tray menu into PNG files, offscreen, in a
// fixed style, font, locale and time zone, at the window's least size (720x480) and its
// default size (900x600), so the screens can be looked at without a desktop.
// Usage: brindlecove_screenshots OUTPUT_FOLDER
// The application's files go to a private temporary folder; nothing of the user's is read.
// After the tour of the sections, the scenes of Tools/Scenes/ render each screen in its
// states from generated media.

#include "ScreenshotStudio.hpp"

#include "BrindlecoveApp/AppSection.hpp"
#include "BrindlecoveApp/Main/AppContext.hpp"
#include "BrindlecoveApp/ViewModels/SyncManager.hpp"
#include "BrindlecoveApp/Views/MenuBarController.hpp"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QLocale>
#include <QMenu>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    QTemporaryDir home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "1");
    qputenv("TZ", "UTC");
    qputenv("LANG", "C.UTF-8");
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_RUNTIME_DIR", (home.path() + "/run").toUtf8());
    QDir().mkpath(home.path() + "/run");
    // Qt refuses a runtime folder others may enter, with a warning.
    QFile::setPermissions(home.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(10);
    QApplication::setFont(font);
    QApplication::setQuitOnLastWindowClosed(false);

    QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("."));

    brindlecove::AppContext::Options options;
    options.quitWithoutTray = false;
    options.dialogs.chooseFolder = [](const brindlecove::FolderRequest&) { return std::optional<QString>(); };
    options.dialogs.confirm = [](const brindlecove::Confirmation&) { return false; };
    brindlecove::AppContext context(std::move(options));

    // A sample of sync state for the tray menu.
    tessaline::SyncPair pair;
    pair.name = "A Cam → Shuttle";
    pair.sourceVolumeLabel = "A_CAM";
    pair.destinationPath = (home.path() + "/Shuttle").toStdString();
    context.syncManager().addPair(pair);
    brindlecove::SyncManager::PendingPrompt prompt{QUuid::createUuid(), QStringLiteral("A_CAM"),
                                                    {QStringLiteral("A Cam → Shuttle")}};
    context.syncManager().setPendingPrompt(prompt);

    brindlecove::MainWindow* window = context.openMainWindow();
    brindlecove::tools::ScreenshotStudio studio(context, *window, out, home.path());
    // Every section at the window's least size and at its default size.
    int index = 1;
    for (brindlecove::AppSection section : brindlecove::allAppSections) {
        window->select(section);
        QTest::qWait(150);  // background reads (Settings' cache statistics) come back
        QString name = QStringLiteral("%1-%2")
                           .arg(index++, 2, 10, QLatin1Char('0'))
                           .arg(brindlecove::rawValue(section).toLower().replace(QLatin1Char(' '), QLatin1Char('-')));
        if (!studio.save(name)) return 1;
    }
    window->select(std::nullopt);
    QTest::qWait(50);
    studio.save(QStringLiteral("09-no-selection"));

    context.menuBar().rebuildNow();
    QMenu* menu = context.menuBar().menu();
    menu->popup(QPoint(0, 0));
    QTest::qWait(100);
    menu->grab().save(out.filePath(QStringLiteral("10-tray-menu.png")));
    menu->hide();

    window->resize(brindlecove::tools::ScreenshotStudio::windowSizes().back());
    brindlecove::tools::ScreenshotScene::runAll(studio);
    std::printf("screens written to %s\n", qPrintable(out.absolutePath()));
    return 0;
}
