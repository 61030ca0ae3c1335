// The text report's file name from a card path of any shape.

#include "BrindlecoveApp/ReportTextFileName.hpp"

#include <gtest/gtest.h>

namespace brindlecove {
namespace {

const QString stamp = QStringLiteral("2025-03-07 140509");

TEST(ReportTextFileName, UsesTheCardFoldersName) {
    EXPECT_EQ(reportTextFileName("/media/u/EOS_DIGITAL", std::nullopt, stamp),
              QStringLiteral("Brindlecove Report \u2014 EOS_DIGITAL \u2014 2025-03-07 140509.txt"));
    EXPECT_EQ(reportTextFileName("/media/u/EOS_DIGITAL/", std::nullopt, stamp),
              QStringLiteral("Brindlecove Report \u2014 EOS_DIGITAL \u2014 2025-03-07 140509.txt"));
}

TEST(ReportTextFileName, RootOrEmptyPathFallsBackToTheLabelThenCard) {
    EXPECT_EQ(reportTextFileName("/", QStringLiteral("SYSTEM"), stamp),
              QStringLiteral("Brindlecove Report \u2014 SYSTEM \u2014 2025-03-07 140509.txt"));
    EXPECT_EQ(reportTextFileName("/", std::nullopt, stamp),
              QStringLiteral("Brindlecove Report \u2014 card \u2014 2025-03-07 140509.txt"));
    EXPECT_EQ(reportTextFileName("", std::nullopt, stamp),
              QStringLiteral("Brindlecove Report \u2014 card \u2014 2025-03-07 140509.txt"));
    EXPECT_EQ(reportTextFileName("/", QStringLiteral("A/B"), stamp),
              QStringLiteral("Brindlecove Report \u2014 A_B \u2014 2025-03-07 140509.txt"));
}

TEST(ReportTextFileName, NulIsReplacedAndLongNamesFit250BytesWithoutSplittingCharacters) {
    QString withNul = QStringLiteral("/x/CA");
    withNul.append(QChar(u'\0'));
    withNul.append(QStringLiteral("RD"));
    EXPECT_EQ(reportTextFileName(withNul, std::nullopt, stamp),
              QStringLiteral("Brindlecove Report \u2014 CA_RD \u2014 2025-03-07 140509.txt"));

    QString longName;
    for (int i = 0; i < 200; ++i) longName += QStringLiteral("\U0001F3AC");  // 4 bytes each, a surrogate pair
    const QString name = reportTextFileName("/media/" + longName, std::nullopt, stamp);
    // 250 bytes leave room for the " 1000" of a name clash within NAME_MAX (255).
    EXPECT_LE(name.toUtf8().size(), 250);
    EXPECT_GT(name.toUtf8().size(), 245);
    EXPECT_TRUE(name.startsWith(QStringLiteral("Brindlecove Report \u2014 \U0001F3AC")));
    EXPECT_TRUE(name.endsWith(QStringLiteral(" \u2014 2025-03-07 140509.txt")));
    EXPECT_EQ(QString::fromUtf8(name.toUtf8()), name) << "no half character left behind";
}

}  // namespace
}  // namespace brindlecove
