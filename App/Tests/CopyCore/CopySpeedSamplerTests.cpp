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

TEST_F(CopySpeedSamplerTest, TheFirstSampleCountsFromTheStartSettleWaitIncludedAndIsTakenRaw) {
    clock.now += 2.0;  // the settle wait
    ASSERT_TRUE(sampler.record(4'000'000, 10'000'000));
    EXPECT_DOUBLE_EQ(sampler.currentBytesPerSec(), 2'000'000);
    ASSERT_EQ(sampler.history().size(), 1);
    EXPECT_DOUBLE_EQ(sampler.history()[0].elapsed, 2.0);
    EXPECT_DOUBLE_EQ(sampler.history()[0].mbPerSec, 2.0);
    EXPECT_DOUBLE_EQ(*sampler.estimatedSecondsRemaining(), 3.0);

    clock.now += 1.0;
    ASSERT_TRUE(sampler.record(5'000'000, 10'000'000));  // 1 MB/s now
    EXPECT_DOUBLE_EQ(sampler.currentBytesPerSec(), 0.4 * 1'000'000 + 0.6 * 2'000'000);
    EXPECT_DOUBLE_EQ(sampler.history()[1].elapsed, 3.0);
    EXPECT_NE(sampler.history()[0].id, sampler.history()[1].id);
}

TEST_F(CopySpeedSamplerTest, UpdatesCloserThanFourTenthsAreIgnoredAndTheirBytesCountInTheNextSample) {
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
    clock.now += 1.0;
    ASSERT_TRUE(sampler.record(1000, 1000));
    EXPECT_EQ(*sampler.estimatedSecondsRemaining(), 0);
    clock.now += 1.0;
    ASSERT_TRUE(sampler.record(1200, 1000));
    EXPECT_EQ(*sampler.estimatedSecondsRemaining(), 0);
}

TEST_F(CopySpeedSamplerTest, TheHistoryKeepsTheNewest120AndResetClearsEverything) {
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
    clock.now += 0.3;
    EXPECT_FALSE(sampler.record(10, 100)) << "elapsed counts from the reset";
}
