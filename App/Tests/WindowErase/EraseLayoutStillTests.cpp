// The Erase Card section holds still under the hand, offscreen: Stop takes Erase's place at its
// size, and no row above them shows, hides or moves when an erase starts, stops or ends, for a
// verified card and for an acknowledged one. While the card is counted or checked the Safety
// Check says so and Erase waits, and an erase never says the card was erased before it ends.

#include "CardPrepViewFixture.hpp"

#include "BrindlecoveApp/ViewModels/EraseTexts.hpp"

#include <QCheckBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

namespace brindlecove::testing {
namespace {

class EraseLayoutStillTest : public CardPrepViewTest {
protected:
    void SetUp() override {
        CardPrepViewTest::SetUp();
        // The detail area of the window at its least size.
        view->resize(540, 430);
        view->show();
    }

    // Where a widget stands in the section, and whether it is shown.
    struct Place {
        QRect rect;
        bool shown = false;
        friend bool operator==(const Place&, const Place&) = default;
    };
    Place place(const char* name) {
        auto* widget = find<QWidget>(name);
        return {QRect(widget->mapTo(view.get(), QPoint(0, 0)), widget->size()), widget->isVisible()};
    }
    // Every row above the buttons, and the buttons' slot.
    std::map<std::string, Place> rows() {
        QTest::qWait(30);  // the coalesced render, and the layout after it
        drainEvents();
        std::map<std::string, Place> all;
        for (const char* name : {"erase.contentsSlot", "erase.banner", "erase.warning", "erase.confirmation",
                                 "erase.acknowledgeRow", "erase.actions"})
            all[name] = place(name);
        return all;
    }
    void expectStill(const std::map<std::string, Place>& before, const char* moment) {
        SCOPED_TRACE(moment);
        const auto now = rows();
        for (const auto& [name, was] : before) {
            EXPECT_TRUE(sameSpot(name, now.at(name).rect, was.rect)) << name << " moved";
            EXPECT_EQ(now.at(name).shown, was.shown) << name << (was.shown ? " hid" : " showed");
        }
    }
    QRect rectOf(const char* name) { return place(name).rect; }
    // A row stays where it began (its own height may follow its text inside the room it
    // keeps); the buttons' slot keeps its whole place.
    static bool sameSpot(const std::string& name, const QRect& now, const QRect& was) {
        return name == "erase.actions" ? now == was : now.topLeft() == was.topLeft();
    }

    tessaline::CardPrepEngine::Summary cleanErase() const {
        return tessaline::CardPrepEngine::Summary{3, 2'500'000, {"DCIM/100MSDCF"}, {}, false, {}, 2};
    }
};

TEST_F(EraseLayoutStillTest, AVerifiedCardsEraseMovesNothingFromStartToStopToEnd) {
    pick();
    scan->setLastReport(card.report({MatchStatus::confirmed(sandbox / "drive/a")}));
    type("erase.confirmation", "CARD");
    ASSERT_TRUE(waitFor([&] { return find<QPushButton>("erase.run")->isEnabled(); }));
    const QString verified = banner()->text();
    ASSERT_TRUE(verified.startsWith("Verified"));
    const auto before = rows();
    EXPECT_FALSE(before.at("erase.acknowledgeRow").shown) << "no override on a verified card";
    const QRect erase = rectOf("erase.run");

    card.holdWalk = true;  // the erase checks the card's files first
    card.holdErase = true;
    card.summary = [this] { return cleanErase(); };
    find<QPushButton>("erase.run")->click();
    ASSERT_TRUE(std::holds_alternative<CardPrepViewModel::Running>(vm->phase()));
    expectStill(before, "while the erase checks the card");
    EXPECT_EQ(rectOf("erase.stop"), erase) << "Stop stands where Erase stood, at its size";
    EXPECT_TRUE(shown("erase.stop"));
    EXPECT_EQ(banner()->text(), verified) << "the erase runs on the verdict it started with";
    card.holdWalk = false;
    ASSERT_TRUE(waitFor([&] { return card.erasing.load(); }));
    expectStill(before, "while it deletes");
    EXPECT_FALSE(banner()->text().contains("ERASED SINCE THE SCAN")) << "nothing is erased before the erase ends";

    find<QPushButton>("erase.stop")->click();
    expectStill(before, "stopping");
    EXPECT_EQ(rectOf("erase.stop"), erase);

    card.holdErase = false;
    ASSERT_TRUE(waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(vm->phase()); }));
    ASSERT_TRUE(waitFor([&] { return !vm->isCounting(); }));
    drainEvents();
    EXPECT_EQ(rectOf("erase.run"), erase) << "Erase comes back where Stop stood";
    EXPECT_EQ(banner()->text(), EraseTexts::erasedText()) << "erased once it is so";
    // Nothing above the buttons moved; the override shows in its own room, the verdict being
    // no longer safe.
    const auto after = rows();
    for (const auto& [name, was] : before)
        EXPECT_TRUE(sameSpot(name, after.at(name).rect, was.rect)) << name << " moved at the end";
}

TEST_F(EraseLayoutStillTest, AnAcknowledgedEraseKeepsItsRowsFromStartToEnd) {
    pick();
    scan->setLastReport(card.report({MatchStatus::missing()}));
    type("erase.confirmation", "CARD");
    drainEvents();
    find<QCheckBox>("erase.acknowledge")->click();
    ASSERT_TRUE(waitFor([&] { return find<QPushButton>("erase.run")->isEnabled(); }));
    const auto before = rows();
    EXPECT_TRUE(before.at("erase.acknowledgeRow").shown);
    const QRect erase = rectOf("erase.run");

    card.holdErase = true;
    card.summary = [this] { return cleanErase(); };
    find<QPushButton>("erase.run")->click();
    ASSERT_TRUE(waitFor([&] { return card.erasing.load(); }));
    expectStill(before, "at the start");
    EXPECT_EQ(rectOf("erase.stop"), erase);
    EXPECT_TRUE(banner()->text().startsWith("STOP"));
    card.holdErase = false;
    ASSERT_TRUE(
        waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(vm->phase()) && !vm->isCounting(); }));
    const auto after = rows();
    for (const auto& [name, was] : before)
        EXPECT_TRUE(sameSpot(name, after.at(name).rect, was.rect)) << name << " moved at the end";
    EXPECT_TRUE(after.at("erase.acknowledgeRow").shown) << "the card is still not verified";
    EXPECT_FALSE(find<QCheckBox>("erase.acknowledge")->isChecked()) << "each erase is acknowledged anew";
}

TEST_F(EraseLayoutStillTest, WhileTheCardIsCountedTheSafetyCheckSaysSoAndEraseWaits) {
    pick();
    scan->setLastReport(card.report({MatchStatus::confirmed(sandbox / "drive/a")}));
    type("erase.confirmation", "CARD");
    ASSERT_TRUE(waitFor([&] { return find<QPushButton>("erase.run")->isEnabled(); }));
    const auto before = rows();

    // Counted again (the section shown again, a change on the card): no verdict until the count.
    card.holdCount = true;
    vm->recount();
    drainEvents();
    EXPECT_EQ(banner()->text(), QString::fromUtf8("Checking the card against your last scan\u2026"));
    EXPECT_EQ(banner()->symbol(), "hourglass");
    EXPECT_FALSE(find<QPushButton>("erase.run")->isEnabled());
    EXPECT_FALSE(shown("erase.acknowledgeRow")) << "no override before the verdict";
    EXPECT_EQ(rows().at("erase.actions"), before.at("erase.actions"));
    // A click meanwhile erases nothing.
    EXPECT_FALSE(vm->runChecked(vm->reportFor(scan->sessionReports())));
    card.holdCount = false;
    ASSERT_TRUE(waitFor([&] { return banner()->text().startsWith("Verified"); }));
    EXPECT_TRUE(find<QPushButton>("erase.run")->isEnabled());
    expectStill(before, "after the count");
}

}  // namespace
}  // namespace brindlecove::testing
