// The main of the window tests: GoogleTest inside a QApplication on the offscreen platform,
// with a fixed style, locale and time zone. Run with --single-instance-child NAME it acts as
// a second launch of the application instead (see SingleInstanceTests).

#include "BrindlecoveApp/Main/SingleInstance.hpp"

#include <QApplication>
#include <QLocale>
#include <QStyleFactory>

#include <gtest/gtest.h>

#include <cstring>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TZ", "UTC");
    if (argc == 3 && std::strcmp(argv[1], "--single-instance-child") == 0) {
        QCoreApplication app(argc, argv);
        brindlecove::SingleInstance instance(QString::fromLocal8Bit(argv[2]));
        // 0: another instance answered and was asked to open; 3: this one became the instance.
        return instance.claim() ? 3 : 0;
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
