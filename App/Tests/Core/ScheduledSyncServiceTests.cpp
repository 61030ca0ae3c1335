#include "BrindlecoveApp/ScheduledSyncService.hpp"

#include "Support/AppTestSandbox.hpp"

#include <QCoreApplication>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;

namespace {

struct FakeClock {
    QDateTime now = QDateTime(QDate(2025, 3, 7), QTime(9, 0), Qt::UTC);
    Clock clock() {
        return [this] { return now; };
    }
};

}  // namespace

class ScheduledSyncServiceTests : public AppSandboxedTest {};

TEST_F(ScheduledSyncServiceTests, FiresOnceAfterTheWallClockJumpsPastSeveralDueTimes) {
    FakeClock fake;
    int fires = 0;
    DailyTimer timer(QStringLiteral("t"), 86400, [&] { ++fires; }, fake.clock(), 5);

    fake.now = fake.now.addSecs(86399);
    timer.checkNow();
    EXPECT_EQ(fires, 0);

    // Five days asleep: the minute check notices once, and the next due time starts from now.
    fake.now = fake.now.addDays(5);
    ASSERT_TRUE(waitFor([&] { return fires > 0; }));
    waitFor([] { return false; }, 50);
    EXPECT_EQ(fires, 1);
    EXPECT_EQ(timer.dueTime(), fake.now.addSecs(86400));

    fake.now = fake.now.addSecs(86400);
    timer.checkNow();
    EXPECT_EQ(fires, 2);
}

TEST_F(ScheduledSyncServiceTests, AClockSetBackByMoreThanADayStillFiresADayLater) {
    FakeClock fake;
    int fires = 0;
    DailyTimer timer(QStringLiteral("t"), 86400, [&] { ++fires; }, fake.clock(), 60'000);
    fake.now = fake.now.addYears(-1);
    timer.checkNow();
    fake.now = fake.now.addSecs(86400);
    timer.checkNow();
    EXPECT_EQ(fires, 1);
}

TEST_F(ScheduledSyncServiceTests, ToleranceIsAQuarterOfTheIntervalAtMostAnHour) {
    EXPECT_EQ(DailyTimer::toleranceFor(86400), 3600);
    EXPECT_EQ(DailyTimer::toleranceFor(3600), 900);
    EXPECT_EQ(DailyTimer::toleranceFor(1200), 300);
}

TEST_F(ScheduledSyncServiceTests, StartingTwiceLeavesOneActivityAndStoppingSilencesIt) {
    FakeClock fake;
    int fires = 0;
    LoginItem item(QStringLiteral("org.example.Test"), qpath(configHome() / "autostart"), {},
                   QStringLiteral("/bin/true"));
    ScheduledSyncService service([&] { ++fires; }, item, fake.clock(), 5);
    EXPECT_EQ(service.scheduler(), nullptr);

    service.startSchedule(86400);
    QPointer<DailyTimer> first = service.scheduler();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->objectName(), QStringLiteral(BRINDLECOVE_APP_ID ".dailySync"));
    service.startSchedule(86400);
    ASSERT_TRUE(service.scheduler());
    EXPECT_NE(service.scheduler(), first.data());
    drainEvents();
    EXPECT_TRUE(first.isNull());

    fake.now = fake.now.addDays(2);
    ASSERT_TRUE(waitFor([&] { return fires > 0; }));
    waitFor([] { return false; }, 50);
    EXPECT_EQ(fires, 1);

    service.stopSchedule();
    EXPECT_EQ(service.scheduler(), nullptr);
    fake.now = fake.now.addDays(2);
    waitFor([] { return false; }, 50);
    EXPECT_EQ(fires, 1);
}
