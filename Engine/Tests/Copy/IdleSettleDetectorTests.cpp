// The settle wait: what counts as a change, the order of its tests, and its three endings.

#include "Support/TestSandbox.hpp"
#include "Tessaline/Copy/IdleSettleDetector.hpp"
#include "Tessaline/Copy/SettleSnapshot.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace tessaline {
namespace {

namespace fs = std::filesystem;
using namespace tessaline::testing;
using Outcome = IdleSettleDetector::Outcome;

class SettleTest : public SandboxedTest {};

TEST_F(SettleTest, SnapshotSeesRegularFilesOnlyAndIgnoresHiddenItems) {
    writeFile(sandbox / "DCIM/A.MOV", "abc");
    writeFile(sandbox / ".hidden/B.MOV", "x");
    writeFile(sandbox / "DCIM/.C.MOV", "x");
    fs::create_symlink(sandbox / "DCIM/A.MOV", sandbox / "link.MOV");
    fs::create_directories(sandbox / "EMPTY");
    SettleSnapshot first = SettleSnapshot::of(sandbox.path());
    ASSERT_EQ(first.entries().size(), 1u);
    EXPECT_EQ(first.entries().begin()->first, (sandbox / "DCIM/A.MOV").native());
    EXPECT_EQ(first.entries().begin()->second.size, 3);

    // Hidden files, folders and links do not change it.
    writeFile(sandbox / ".hidden/B.MOV", "changed");
    fs::create_directories(sandbox / "NEW/FOLDER");
    fs::remove(sandbox / "link.MOV");
    EXPECT_EQ(SettleSnapshot::of(sandbox.path()), first);

    // A re-dated file does, to the nanosecond.
    struct timespec times[2] = {{0, UTIME_OMIT}, {1'700'000'000, 123}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (sandbox / "DCIM/A.MOV").c_str(), times, 0), 0);
    SettleSnapshot redated = SettleSnapshot::of(sandbox.path());
    EXPECT_FALSE(redated == first);
    times[1].tv_nsec = 124;
    ::utimensat(AT_FDCWD, (sandbox / "DCIM/A.MOV").c_str(), times, 0);
    EXPECT_FALSE(SettleSnapshot::of(sandbox.path()) == redated);

    EXPECT_TRUE(SettleSnapshot::of(sandbox / "missing").entries().empty());
}

TEST_F(SettleTest, NoQuietPeriodSettlesAtOnceWithoutLookingOrAsking) {
    int asked = 0, called = 0;
    auto outcome = IdleSettleDetector().waitUntilSettled(sandbox / "missing", SettleOptions::none(),
                                                         [&] { return ++asked, true; }, [&](double) { ++called; });
    EXPECT_EQ(outcome, Outcome::settled);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(called, 0);
}

TEST_F(SettleTest, CancelledBeforeTheWaitEndsRightAfterTheFirstSnapshot) {
    int called = 0;
    auto outcome = IdleSettleDetector().waitUntilSettled(sandbox.path(), {2, 60, 0.5}, [] { return true; },
                                                         [&](double) { ++called; });
    EXPECT_EQ(outcome, Outcome::cancelled);
    EXPECT_EQ(called, 0);
}

TEST_F(SettleTest, ZeroTimeoutGivesOneCallbackThenTimesOut) {
    std::vector<double> remaining;
    auto outcome = IdleSettleDetector().waitUntilSettled(sandbox.path(), {2, 0, 0.5}, [] { return false; },
                                                         [&](double r) { remaining.push_back(r); });
    EXPECT_EQ(outcome, Outcome::timedOut);
    ASSERT_EQ(remaining.size(), 1u);
    EXPECT_GT(remaining[0], 1.9);
}

TEST_F(SettleTest, AQuietTreeSettlesWithFallingRemainingTimesEndingAtZero) {
    writeFile(sandbox / "A.MOV", "abc");
    std::vector<double> remaining;
    auto outcome = IdleSettleDetector().waitUntilSettled(sandbox.path(), {0.1, 10, 0.02}, [] { return false; },
                                                         [&](double r) { remaining.push_back(r); });
    EXPECT_EQ(outcome, Outcome::settled);
    ASSERT_GE(remaining.size(), 2u);
    EXPECT_EQ(remaining.back(), 0.0);
    for (size_t i = 1; i < remaining.size(); ++i) EXPECT_LE(remaining[i], remaining[i - 1]);
}

TEST_F(SettleTest, AGrowingFileKeepsResettingTheQuietTimeUntilTheTimeout) {
    std::string bytes;
    std::vector<double> remaining;
    auto outcome = IdleSettleDetector().waitUntilSettled(
        // A quiet period well above any pause a loaded machine makes between two looks.
        sandbox.path(), {1.0, 1.5, 0.02},
        [&] {
            bytes += "x";  // the camera writes between two looks
            writeFile(sandbox / "GROWING.MOV", bytes);
            return false;
        },
        [&](double r) { remaining.push_back(r); });
    EXPECT_EQ(outcome, Outcome::timedOut);
    EXPECT_GT(remaining.back(), 0.5);
}

}  // namespace
}  // namespace tessaline
