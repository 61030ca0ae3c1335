// The copy speed sampler's rules with a clock the test moves by hand.

#include "BrindlecoveApp/ViewModels/CopySpeedSampler.hpp"

#include <gtest/gtest.h>

using brindlecove::CopySpeedSampler;

namespace {

struct ManualClock {
    double now = 100.0;
    CopySpeedSampler::Clock function() {
        return [this] { return now; };
    }
};

class CopySpeedSamplerTest : public ::testing::Test {
protected:
    ManualClock clock;
    CopySpeedSampler sampler{clock.function()};
    void SetUp() override { sampler.reset(); }
};

}  // namespace

TEST_F(CopySpeedSamplerTest, APlannedTotalOfZeroRecordsNothing) {
    clock.now += 5;
    EXPECT_FALSE(sampler.record(1000, 0));
    EXPECT_EQ(sampler.currentBytesPerSec(), 0);
    EXPECT_TRUE(sampler.history().isEmpty());
    EXPECT_FALSE(sampler.estimatedSecondsRemaining());
}

TEST_F(CopySpeedSamplerTest, RatesCountFromTheFirstUpdateNeverFromTheSettleWaitAndTheFirstIsTakenRaw) {
    clock.now += 30.0;  // a long settle wait, then the first chunk arrives
    EXPECT_FALSE(sampler.record(8'000'000, 108'000'000)) << "the first update only marks where copying began";
    EXPECT_EQ(sampler.currentBytesPerSec(), 0);
    EXPECT_TRUE(sampler.history().isEmpty());
    EXPECT_FALSE(sampler.estimatedSecondsRemaining());

    clock.now += 0.5;
    ASSERT_TRUE(sampler.record(13'000'000, 108'000'000));  // 5 MB in 0.5 s
    EXPECT_DOUBLE_EQ(sampler.currentBytesPerSec(), 10'000'000);
    ASSERT_EQ(sampler.history().size(), 1);
    EXPECT_DOUBLE_EQ(sampler.history()[0].elapsed, 30.5) << "the chart's time still counts from the start";
    EXPECT_DOUBLE_EQ(sampler.history()[0].mbPerSec, 10.0);
    EXPECT_FALSE(sampler.estimatedSecondsRemaining()) << "half a second of copying is no basis yet";

    clock.now += 0.5;
    ASSERT_TRUE(sampler.record(18'000'000, 108'000'000));  // one second of copying
    EXPECT_DOUBLE_EQ(sampler.currentBytesPerSec(), 10'000'000);
    EXPECT_DOUBLE_EQ(*sampler.estimatedSecondsRemaining(), 9.0);

    clock.now += 1.0;
    ASSERT_TRUE(sampler.record(23'000'000, 108'000'000));  // 5 MB/s now
    EXPECT_DOUBLE_EQ(sampler.currentBytesPerSec(), 0.4 * 5'000'000 + 0.6 * 10'000'000);
    EXPECT_NE(sampler.history()[1].id, sampler.history()[2].id);
}

TEST_F(CopySpeedSamplerTest, UpdatesCloserThanFourTenthsAreIgnoredAndTheirBytesCountInTheNextSample) {
    sampler.record(0, 100'000'000);
    clock.now += 1.0;
    ASSERT_TRUE(sampler.record(1'000'000, 100'000'000));
    clock.now += 0.3;
    EXPECT_FALSE(sampler.record(9'000'000, 100'000'000));
    EXPECT_EQ(sampler.history().size(), 1);
    EXPECT_DOUBLE_EQ(sampler.currentBytesPerSec(), 1'000'000);
    clock.now += 0.2;  // 0.5 s after the last sample
    ASSERT_TRUE(sampler.record(2'000'000, 100'000'000));
    // (2 MB − 1 MB) over 0.5 s: the ignored update moved nothing.
    EXPECT_DOUBLE_EQ(sampler.currentBytesPerSec(), 0.4 * 2'000'000 + 0.6 * 1'000'000);
}

TEST_F(CopySpeedSamplerTest, FewerBytesThanLastTimeIsARateOfZeroAndOnlyZeroRatesGiveNoEstimate) {
    sampler.record(0, 1000);
    clock.now += 1.0;
    ASSERT_TRUE(sampler.record(0, 1000));
    EXPECT_EQ(sampler.currentBytesPerSec(), 0);
    EXPECT_FALSE(sampler.estimatedSecondsRemaining()) << "no speed, no estimate";
    clock.now += 1.0;
    ASSERT_TRUE(sampler.record(500, 1000));
    EXPECT_DOUBLE_EQ(sampler.currentBytesPerSec(), 500) << "the first positive rate is taken as it is";
    clock.now += 1.0;
    ASSERT_TRUE(sampler.record(100, 1000));
    EXPECT_DOUBLE_EQ(sampler.currentBytesPerSec(), 0.6 * 500) << "a lower count is a rate of 0, not negative";
    EXPECT_GT(*sampler.estimatedSecondsRemaining(), 0);
}

TEST_F(CopySpeedSamplerTest, TheEstimateIsZeroOnceEverythingIsCopied) {
    sampler.record(0, 1000);
    clock.now += 1.0;
    ASSERT_TRUE(sampler.record(1000, 1000));
    EXPECT_EQ(*sampler.estimatedSecondsRemaining(), 0);
    clock.now += 1.0;
    ASSERT_TRUE(sampler.record(1200, 1000));
    EXPECT_EQ(*sampler.estimatedSecondsRemaining(), 0);
}

TEST_F(CopySpeedSamplerTest, TheHistoryKeepsTheNewest120AndResetClearsEverything) {
    sampler.record(0, 1'000'000);
    for (int i = 1; i <= 121; ++i) {
        clock.now += 0.5;
        ASSERT_TRUE(sampler.record(int64_t{i} * 1000, 1'000'000));
    }
    ASSERT_EQ(sampler.history().size(), 120);
    EXPECT_DOUBLE_EQ(sampler.history().front().elapsed, 1.0) << "sample 2 is the oldest kept";
    EXPECT_DOUBLE_EQ(sampler.history().back().elapsed, 60.5);

    clock.now += 10;
    sampler.reset();
    EXPECT_TRUE(sampler.history().isEmpty());
    EXPECT_EQ(sampler.currentBytesPerSec(), 0);
    EXPECT_FALSE(sampler.estimatedSecondsRemaining());
    EXPECT_FALSE(sampler.record(10, 100)) << "a new run marks its own start of copying";
    clock.now += 0.3;
    EXPECT_FALSE(sampler.record(20, 100)) << "elapsed counts from the reset";
}
