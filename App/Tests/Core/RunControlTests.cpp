#include "BrindlecoveApp/Formats.hpp"
#include "BrindlecoveApp/Platform/Executor.hpp"
#include "BrindlecoveApp/ViewModels/RunControl.hpp"
#include "Support/AppTestSandbox.hpp"

#include <QObject>

#include <atomic>
#include <vector>

#include <gtest/gtest.h>

using namespace brindlecove;
using brindlecove::testing::AppSandboxedTest;

namespace {

class Owner : public QObject {
public:
    RunControl runs{this};
    std::vector<int> applied;
};

}  // namespace

TEST(RunControl, EachRunHasItsOwnFlagAndOnlyTheNewestIsCurrent) {
    Owner owner;
    EXPECT_FALSE(owner.runs.isActive());
    owner.runs.cancel();  // nothing to cancel yet
    auto first = owner.runs.begin();
    EXPECT_TRUE(owner.runs.isActive());
    auto second = owner.runs.begin();
    EXPECT_FALSE(owner.runs.isCurrent(first.id));
    EXPECT_TRUE(owner.runs.isCurrent(second.id));
    owner.runs.cancel();
    EXPECT_TRUE(second.isCancelled());
    EXPECT_FALSE(first.isCancelled()) << "a Stop reaches only the current run";
    owner.runs.finish(first.id);
    EXPECT_TRUE(owner.runs.isActive()) << "a stale finish ends nothing";
    owner.runs.finish(second.id);
    EXPECT_FALSE(owner.runs.isActive());
}

TEST_F(AppSandboxedTest, RunControlDeliversInOrderAndDropsStaleOrOrphanedPosts) {
    auto owner = std::make_unique<Owner>();
    auto old = owner->runs.begin();
    auto current = owner->runs.begin();
    std::atomic<bool> done{false};
    Executor::shared().userInitiated([&, old, current] {
        old.post([&] { owner->applied.push_back(-1); });
        for (int i = 0; i < 100; ++i) current.post([&, i] { owner->applied.push_back(i); });
        done = true;
    });
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    drainEvents();
    ASSERT_EQ(owner->applied.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(owner->applied[size_t(i)], i);

    bool ran = false;
    auto ticket = owner->runs.begin();
    ticket.post([&] { ran = true; });
    ticket.postUnlessGone([&] { ran = true; });
    EXPECT_TRUE(ticket.ownerAlive());
    owner.reset();
    EXPECT_FALSE(ticket.ownerAlive());
    EXPECT_TRUE(ticket.isCancelled()) << "a destroyed view model stops its run";
    drainEvents();
    EXPECT_FALSE(ran);
}

TEST(Formats, DurationTextSwitchesUnitsAtOneHourAndDropsZeroUnits) {
    auto text = [](double s) { return Formats::durationText(s).value_or(QStringLiteral("<none>")); };
    EXPECT_EQ(text(0), "0s");
    EXPECT_EQ(text(42.9), "42s");
    EXPECT_EQ(text(125), "2m 5s");
    EXPECT_EQ(text(120), "2m");
    EXPECT_EQ(text(3599), "59m 59s");
    EXPECT_EQ(text(3600), "1h");
    EXPECT_EQ(text(3725), "1h 2m");
    EXPECT_EQ(text(1e300), text(1e9));
    EXPECT_EQ(text(-1), "<none>");
    EXPECT_EQ(text(std::numeric_limits<double>::infinity()), "<none>");
    EXPECT_EQ(text(std::numeric_limits<double>::quiet_NaN()), "<none>");
}
