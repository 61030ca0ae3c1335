// The scan's progress bookkeeping: stages, the 120-point chart, the per-stage estimate, the
// files-searched total and the resume banner.

#include "BrindlecoveApp/ViewModels/ScanProgressTracker.hpp"

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include <limits>

namespace brindlecove {
namespace {

TEST(ScanProgressTracker, StageStartGivesOnePointAndNoEstimateUntilTwentyFilesAndTwoSeconds) {
    ScanProgressTracker tracker;
    tracker.recordProgress("card-photos", 0, 100, 0.0);
    ASSERT_EQ(tracker.history().size(), 1);
    EXPECT_EQ(tracker.history()[0].elapsed, 0.0);
    EXPECT_EQ(tracker.history()[0].completed, 0);
    EXPECT_FALSE(tracker.estimatedSecondsRemaining());

    tracker.recordProgress("card-photos", 19, 100, 30.0);
    EXPECT_FALSE(tracker.estimatedSecondsRemaining()) << "below 20 files";
    tracker.recordProgress("card-photos", 20, 100, 1.99);
    EXPECT_FALSE(tracker.estimatedSecondsRemaining()) << "below 2 seconds";
    tracker.recordProgress("card-photos", 20, 100, std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(tracker.estimatedSecondsRemaining());
    tracker.recordProgress("card-photos", 40, 100, 10.0);
    ASSERT_TRUE(tracker.estimatedSecondsRemaining());
    EXPECT_DOUBLE_EQ(*tracker.estimatedSecondsRemaining(), 15.0);
    tracker.recordProgress("card-photos", 100, 100, 20.0);
    EXPECT_EQ(tracker.estimatedSecondsRemaining(), 0.0);
    EXPECT_EQ(tracker.history().size(), 6) << "the same stage keeps adding points";
}

TEST(ScanProgressTracker, KeepsTheNewest120Points) {
    ScanProgressTracker tracker;
    for (int i = 0; i < 121; ++i) tracker.recordGraph(i, 1000, double(i));
    ASSERT_EQ(tracker.history().size(), 120);
    EXPECT_EQ(tracker.history().front().completed, 1);
    EXPECT_EQ(tracker.history().back().completed, 120);
    for (int i = 121; i < 400; ++i) tracker.recordGraph(i, 1000, double(i));
    EXPECT_EQ(tracker.history().size(), 120);
    EXPECT_EQ(tracker.history().front().completed, 280);
    EXPECT_NE(tracker.history()[0].id, tracker.history()[1].id);
}

TEST(ScanProgressTracker, StagesReplaceTheirOwnCountsAndNewStagesClearTheChart) {
    ScanProgressTracker tracker;
    tracker.recordProgress("card-photos", 0, 100, 0);
    tracker.recordProgress("card-photos", 100, 100, 5);
    tracker.recordProgress("card-videos", 0, 30, 0);
    EXPECT_EQ(tracker.history().size(), 1) << "a new stage starts an empty chart";
    tracker.recordProgress("card-videos", 30, 30, 3);
    tracker.recordProgress("drive-Backup-photos", 0, 500, 0);
    tracker.recordProgress("drive-Backup-photos", 500, 500, 9);
    EXPECT_EQ(tracker.totalFilesSearched(), 630);

    tracker.beginStage("matching");
    EXPECT_TRUE(tracker.history().isEmpty());
    EXPECT_FALSE(tracker.estimatedSecondsRemaining());
    tracker.beginStage("verify");
    tracker.recordGraph(0, 0, 0);
    EXPECT_TRUE(tracker.history().isEmpty()) << "nothing to prove draws nothing";
    tracker.recordGraph(0, 12, 0);
    tracker.recordGraph(12, 12, 4);
    EXPECT_EQ(tracker.history().size(), 2);
    EXPECT_EQ(tracker.totalFilesSearched(), 630) << "verification does not count as searching";

    tracker.beginStage("verify");
    EXPECT_EQ(tracker.history().size(), 2) << "the same stage again keeps the chart";

    tracker.setResume("CARD", 1, 2);
    tracker.reset();
    EXPECT_EQ(tracker.totalFilesSearched(), 0);
    EXPECT_TRUE(tracker.history().isEmpty());
    EXPECT_FALSE(tracker.currentStageID());
    EXPECT_TRUE(tracker.resumeBanner()) << "the banner is cleared by the run start, not by reset";
}

TEST(ScanProgressTracker, StoppedStageContributesItsLastReportedCount) {
    ScanProgressTracker tracker;
    tracker.recordProgress("card-photos", 0, 250, 0);
    tracker.recordProgress("card-photos", 20, 250, 1);
    tracker.recordProgress("card-photos", 40, 250, 2);
    tracker.recordProgress("drive-A-photos", 0, 10, 0);
    EXPECT_EQ(tracker.totalFilesSearched(), 40);
}

TEST(ScanProgressTracker, ResumeBannerGroupsDigitsInTheUsersLocale) {
    const QLocale saved;
    ScanProgressTracker tracker;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    tracker.setResume("EOS_DIGITAL", 1234, 250000);
    EXPECT_EQ(*tracker.resumeBanner(),
              QStringLiteral("Resuming \u201CEOS_DIGITAL\u201D \u2014 1,234 of 250,000 files already checked"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    tracker.setResume("Backup", 12, 1250);
    EXPECT_EQ(*tracker.resumeBanner(),
              QStringLiteral("Resuming \u201CBackup\u201D \u2014 12 of 1.250 files already checked"));
    QLocale::setDefault(saved);
}

}  // namespace
}  // namespace brindlecove
