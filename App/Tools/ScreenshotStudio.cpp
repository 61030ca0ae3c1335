#include "ScreenshotStudio.hpp"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>

#include <cstdio>
#include <map>
#include <string>

namespace brindlecove::tools {

namespace {

std::map<std::string, ScreenshotScene::Body>& scenes() {
    static std::map<std::string, ScreenshotScene::Body> all;
    return all;
}

}  // namespace

ScreenshotStudio::ScreenshotStudio(AppContext& context, MainWindow& window, QDir out, QString home)
    : context_(context), window_(window), out_(std::move(out)), home_(std::move(home)) {}

void ScreenshotStudio::wait(int ms) { QTest::qWait(ms); }

bool ScreenshotStudio::waitFor(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) QTest::qWait(20);
    return done();
}

bool ScreenshotStudio::save(const QString& name, QWidget* widget) {
    QWidget* target = widget ? widget : &window_;
    QString path = out_.filePath(name + QStringLiteral(".png"));
    if (!target->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool ScreenshotStudio::run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(120'000)) return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

ScreenshotScene::ScreenshotScene(const char* key, Body body) { scenes()[key] = std::move(body); }

void ScreenshotScene::runAll(ScreenshotStudio& studio) {
    for (auto& [key, body] : scenes()) {
        std::fprintf(stderr, "scene %s\n", key.c_str());
        body(studio);
    }
}

}  // namespace brindlecove::tools
