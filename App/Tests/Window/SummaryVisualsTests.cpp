#include "BrindlecoveApp/Views/ProportionBar.hpp"
#include "BrindlecoveApp/Views/ResultBanner.hpp"
#include "BrindlecoveApp/Views/StatCard.hpp"

#include <QLabel>

#include <gtest/gtest.h>

using namespace brindlecove;

namespace {
std::vector<ProportionBar::Segment> segments(std::initializer_list<long long> values) {
    std::vector<ProportionBar::Segment> list;
    for (long long v : values) list.push_back({QUuid::createUuid(), v, Qt::red});
    return list;
}
}  // namespace

TEST(ProportionBar, SegmentsSplitTheWidthByValue) {
    EXPECT_TRUE(ProportionBar::segmentRects(200, {}).empty());
    EXPECT_TRUE(ProportionBar::segmentRects(200, segments({0, 0})).empty());
    auto rects = ProportionBar::segmentRects(200, segments({3, 0, 1}));
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_DOUBLE_EQ(rects[0].width(), 150);
    EXPECT_DOUBLE_EQ(rects[1].left(), 150);
    EXPECT_DOUBLE_EQ(rects[1].width(), 50);
    EXPECT_DOUBLE_EQ(rects[0].height(), 12);
    auto single = ProportionBar::segmentRects(200, segments({7}));
    ASSERT_EQ(single.size(), 1u);
    EXPECT_DOUBLE_EQ(single[0].width(), 200);
}

TEST(ProportionBar, ANegativeValueNeverPushesTheOthersPastTheEnd) {
    auto rects = ProportionBar::segmentRects(200, segments({2, -5, 2}));
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_DOUBLE_EQ(rects[0].width(), 100);
    EXPECT_DOUBLE_EQ(rects[1].right(), 200);
    ProportionBar bar(segments({1}));
    EXPECT_EQ(bar.sizeHint().height(), 12);
}

TEST(StatCard, TintAndBorderFollowEmphasisAndCount) {
    EXPECT_DOUBLE_EQ(StatCard::fillAlpha(0, true), 0.06);
    EXPECT_DOUBLE_EQ(StatCard::borderAlpha(0, true), 0.0);
    EXPECT_DOUBLE_EQ(StatCard::fillAlpha(5, true), 0.14);
    EXPECT_DOUBLE_EQ(StatCard::borderAlpha(5, true), 0.4);
    EXPECT_DOUBLE_EQ(StatCard::fillAlpha(5, false), 0.06);
    EXPECT_DOUBLE_EQ(StatCard::borderAlpha(5, false), 0.0);
    EXPECT_TRUE(StatCard::countIsSecondary(0));
    StatCard card(1234567, QStringLiteral("Missing"), QStringLiteral("exclamationmark.triangle.fill"), Qt::red, true);
    EXPECT_EQ(card.countText(), QStringLiteral("1,234,567"));  // the user's digit grouping
}

TEST(ResultBanner, ToneSymbolsAndOptionalSubtitle) {
    EXPECT_EQ(ResultBanner::symbolFor(ResultBanner::Tone::good), QStringLiteral("checkmark.seal.fill"));
    EXPECT_EQ(ResultBanner::symbolFor(ResultBanner::Tone::bad), QStringLiteral("exclamationmark.triangle.fill"));
    EXPECT_EQ(ResultBanner::symbolFor(ResultBanner::Tone::warn), QStringLiteral("exclamationmark.circle.fill"));
    EXPECT_EQ(ResultBanner::symbolFor(ResultBanner::Tone::neutral), QStringLiteral("info.circle.fill"));
    ResultBanner plain(ResultBanner::Tone::good, QStringLiteral("Safe to erase"));
    EXPECT_EQ(plain.findChild<QLabel*>(QStringLiteral("banner.subtitle")), nullptr);
    ResultBanner withSubtitle(ResultBanner::Tone::bad, QStringLiteral("Not safe"), QStringLiteral("3 missing"));
    auto* subtitle = withSubtitle.findChild<QLabel*>(QStringLiteral("banner.subtitle"));
    ASSERT_NE(subtitle, nullptr);
    EXPECT_EQ(subtitle->text(), QStringLiteral("3 missing"));
}
