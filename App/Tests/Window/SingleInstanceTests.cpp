#include "BrindlecoveApp/Main/SingleInstance.hpp"
#include "Support/AppTestSandbox.hpp"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QDir>
#include <cstring>
#include <QUuid>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace brindlecove;

namespace {

int runSecondLaunch(const QString& name) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--single-instance-child"), name});
    // The first instance answers from this process's event loop, so keep it turning.
    bool finished = false;
    QObject::connect(&child, &QProcess::finished, [&] { finished = true; });
    QTest::qWaitFor([&] { return finished; }, 20000);
    return child.exitCode();
}

QString uniqueName() { return QStringLiteral("brindlecove-test-") + QUuid::createUuid().toString(QUuid::Id128); }

}  // namespace

TEST(SingleInstance, SecondLaunchHandsOverAndExits) {
    const QString name = uniqueName();
    SingleInstance first(name);
    ASSERT_TRUE(first.claim());
    QSignalSpy opened(&first, &SingleInstance::openRequested);
    EXPECT_EQ(runSecondLaunch(name), 0);  // the second process gave way
    ASSERT_TRUE(opened.count() > 0 || opened.wait(5000));
}

TEST(SingleInstance, LeftoverSocketOfACrashedInstanceIsTakenOver) {
    const QString name = uniqueName();
    // A socket file nobody listens on, as a killed instance leaves it.
    QString path = QDir::tempPath() + QLatin1Char('/') + name;
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    SingleInstance instance(name);
    EXPECT_TRUE(instance.claim(300));
    // And it now really is the instance: a later launch gives way to it.
    EXPECT_EQ(runSecondLaunch(name), 0);
}
