#include "BrindlecoveApp/CancellationFlag.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using brindlecove::CancellationFlag;

TEST(CancellationFlagTests, SetOnceStaysSetAndIsSeenFromAnotherThread) {
    auto flag = std::make_shared<CancellationFlag>();
    EXPECT_FALSE(flag->isCancelled());
    auto test = CancellationFlag::testFor(flag);

    std::atomic<bool> seen{false};
    std::thread worker([&] {
        while (!test()) std::this_thread::yield();
        seen = true;
    });
    flag->cancel();
    worker.join();
    EXPECT_TRUE(seen);
    flag->cancel();
    EXPECT_TRUE(flag->isCancelled());
    EXPECT_TRUE(test());
}

TEST(CancellationFlagTests, ANewRunsFlagIsClearWhileTheStoppedRunsStaysSet) {
    auto current = std::make_shared<CancellationFlag>();
    auto firstRun = CancellationFlag::testFor(current);
    current->cancel();

    // The owner replaces its flag for the next run; the first run's test keeps its own flag.
    current = std::make_shared<CancellationFlag>();
    auto secondRun = CancellationFlag::testFor(current);
    EXPECT_TRUE(firstRun());
    EXPECT_FALSE(secondRun());
}
