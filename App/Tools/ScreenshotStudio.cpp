#include "ScreenshotStudio.hpp"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QScrollArea>
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

const QList<QSize>& ScreenshotStudio::windowSizes() {
    static const QList<QSize> sizes{QSize(720, 480), QSize(900, 600)};
    return sizes;
}

QString ScreenshotStudio::sizedName(const QString& name, QSize size) {
    return QStringLiteral("%1-%2x%3").arg(name).arg(size.width()).arg(size.height());
}

bool ScreenshotStudio::grab(QWidget& widget, const QString& fileName) {
    QString path = out_.filePath(fileName + QStringLiteral(".png"));
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool ScreenshotStudio::save(const QString& name, QWidget* widget, bool atWindowSizes, QWidget* inView) {
    bool saved = true;
    const QSize windowSize = window_.size();
    if (widget) {
        saved = grab(*widget, name);
        if (!atWindowSizes) return saved;
        const QSize own = widget->size();
        for (QSize size : windowSizes()) {
            window_.resize(size);
            wait(30);
            QWidget* detail = window_.currentScreen() ? window_.currentScreen()->parentWidget() : nullptr;
            widget->resize(detail ? detail->size() : size);
            wait(50);
            if (inView)
                for (QWidget* up = inView->parentWidget(); up; up = up->parentWidget())
                    if (auto* area = qobject_cast<QScrollArea*>(up)) area->ensureWidgetVisible(inView);
            wait(20);
            saved = grab(*widget, sizedName(name, size)) && saved;
        }
        widget->resize(own);
    } else {
        for (QSize size : windowSizes()) {
            window_.resize(size);
            wait(80);
            if (inView)
                for (QWidget* up = inView->parentWidget(); up; up = up->parentWidget())
                    if (auto* area = qobject_cast<QScrollArea*>(up)) area->ensureWidgetVisible(inView);
            wait(20);
            saved = grab(window_, sizedName(name, size)) && saved;
        }
    }
    window_.resize(windowSize);
    wait(30);
    return saved;
}

bool ScreenshotStudio::saveWithPopup(const QString& name, QWidget& base, QWidget& popup) {
    const QPixmap under = base.grab();
    const QPixmap over = popup.grab();
    const QPoint at = popup.mapToGlobal(QPoint(0, 0)) - base.mapToGlobal(QPoint(0, 0));
    const QRect all = QRect(QPoint(0, 0), under.size()).united(QRect(at, over.size()));
    QImage picture(all.size(), QImage::Format_ARGB32);
    picture.fill(QColor(128, 128, 128));
    QPainter painter(&picture);
    painter.drawPixmap(-all.topLeft(), under);
    painter.drawPixmap(at - all.topLeft(), over);
    painter.end();
    const QString path = out_.filePath(name + QStringLiteral(".png"));
    if (!picture.save(path)) {
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
