#include "BrindlecoveApp/AppEvents.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/Platform/MainThread.hpp"

#include "Support/AppTestSandbox.hpp"

#include <QPointer>
#include <QSignalSpy>

#include <thread>
#include <vector>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;

class MainThreadTests : public AppSandboxedTest {};

TEST_F(MainThreadTests, PostsFromAWorkerRunOnTheMainThreadInOrder) {
    std::vector<int> order;
    std::vector<bool> onMain;
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i)
            MainThread::post([&, i] {
                order.push_back(i);
                onMain.push_back(MainThread::isCurrent());
            });
    });
    worker.join();
    ASSERT_TRUE(waitFor([&] { return order.size() == 200; }));
    for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
    for (bool main : onMain) EXPECT_TRUE(main);
}

TEST_F(MainThreadTests, AReceiverDestroyedBeforeTheCallRunsIsNotTouched) {
    auto* receiver = new QObject;
    bool touched = false;
    Executor::shared().utility([target = QPointer<QObject>(receiver), &touched] {
        MainThread::post([target, &touched] {
            if (target) touched = true;
        });
    });
    ASSERT_TRUE(Executor::shared().waitForDone(10'000));
    delete receiver;
    drainEvents();
    EXPECT_FALSE(touched);
}

TEST_F(MainThreadTests, LogArchivedIsEmittedOnTheMainThreadWhenPostedFromAnyThread) {
    QSignalSpy spy(&AppEvents::instance(), &AppEvents::logArchived);
    bool emittedOnMain = false;
    auto connection = QObject::connect(&AppEvents::instance(), &AppEvents::logArchived,
                                       [&] { emittedOnMain = MainThread::isCurrent(); });
    std::thread([] { AppEvents::postLogArchived(); }).join();
    EXPECT_EQ(spy.count(), 0);  // never synchronously
    ASSERT_TRUE(waitFor([&] { return spy.count() == 1; }));
    EXPECT_TRUE(emittedOnMain);
    QObject::disconnect(connection);
    EXPECT_STREQ(bcLogArchivedName, "Brindlecove.logArchived");
}

TEST_F(MainThreadTests, ExecutorRunsManyLongJobsAtOnceAndSurvivesAThrowingOne) {
    std::atomic<int> running{0};
    std::atomic<int> peak{0};
    std::atomic<bool> release{false};
    Executor& executor = Executor::shared();
    executor.utility([] { throw std::runtime_error("boom"); });
    for (int i = 0; i < 6; ++i)
        executor.userInitiated([&] {
            peak = std::max(peak.load(), ++running);
            while (!release) std::this_thread::yield();
            --running;
        });
    ASSERT_TRUE(waitFor([&] { return running.load() == 6; }));
    release = true;
    EXPECT_TRUE(executor.waitForDone(10'000));
    EXPECT_EQ(peak.load(), 6);
}
