// The Erase Card section holds still in every frame, not only once settled: after each single
// event of an erase's start, stop, end and the count after it, nothing at or above Stop has
// moved and Stop stands where Erase stood, at the detail area's sizes of the smallest and of
// the default window, with the form at its top and scrolled to its end. The events are the
// real ones: mouse clicks on the buttons, the worker's progress, the coalesced redraws and the
// layout requests they post, each checked on its own (AfterEachEvent).

#include "CardPrepViewFixture.hpp"

#include "Support/WindowTestRun.hpp"

#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <map>
#include <sstream>
#include <tuple>

namespace brindlecove::testing {
namespace {

// The Erase Card screen's room in the main window at 720×480 (its least size) and at 900×600
// (its default): the window less the sidebar. And a window as wide as the default and as low
// as the least (900×480), where the form scrolls at the default's width.
const QSize leastDetail(460, 480);
const QSize defaultDetail(640, 600);
const QSize wideLowDetail(640, 480);

// How the erase ends: stopped while it deletes, stopped while it still checks the card's files
// (nothing deleted: the shortest outcome), or finished.
enum class Ending { stopped, stoppedBeforeDeleting, finished };

class EraseLayoutFramesTest : public CardPrepViewTest,
                              public ::testing::WithParamInterface<std::tuple<QSize, bool, Ending>> {
protected:
    void SetUp() override {
        CardPrepViewTest::SetUp();
        view->resize(std::get<0>(GetParam()));
        view->show();
    }

    QRect rectOf(const char* name) {
        auto* widget = find<QWidget>(name);
        return {widget->mapTo(view.get(), QPoint(0, 0)), widget->size()};
    }

    // Where everything at or above Stop stands: the boxes above the erase box whole, the rows
    // of the erase box by their top (a row's text may grow inside the room it keeps), the
    // buttons' slot whole.
    std::map<std::string, QRect> above() {
        std::map<std::string, QRect> all;
        for (const char* box : {"erase.group.card", "erase.group.safety", "erase.group.camera"}) all[box] = rectOf(box);
        for (const char* row : {"erase.contentsSlot", "erase.banner", "erase.profile", "erase.warning",
                                "erase.confirmation", "erase.acknowledgeRow"})
            all[row] = QRect(rectOf(row).topLeft(), QSize());
        all["erase.actions"] = rectOf("erase.actions");
        all["scrolled to"] = QRect(0, find<QScrollArea>("erase.cameraForm")->verticalScrollBar()->value(), 0, 0);
        return all;
    }

    // Checks after every event from now on; `moment` names the stage for the messages.
    void watchFrames() {
        still_ = above();
        erase_ = rectOf("erase.run");
        watching_ = std::make_unique<AfterEachEvent>([this](const std::string& event) { checkFrame(event); });
    }
    void checkFrame(const std::string& event) {
        ++events_;
        event_ = event;
        const auto now = above();
        for (const auto& [name, was] : still_)
            if (now.at(name) != was) note(name + " moved", was, now.at(name));
        if (!find<QWidget>("erase.stop")->isHidden() && rectOf("erase.stop") != erase_)
            note("Stop is not where Erase was", erase_, rectOf("erase.stop"));
        if (!find<QWidget>("erase.run")->isHidden() && rectOf("erase.run") != erase_)
            note("Erase moved", erase_, rectOf("erase.run"));
    }
    // The first frame a thing was out of place in, and in how many frames it was.
    void note(const std::string& what, const QRect& was, const QRect& now) {
        auto& [first, frames] = moved_[what];
        if (frames++ > 0) return;
        std::ostringstream line;
        line << what << " from (" << was.x() << "," << was.y() << " " << was.width() << "x" << was.height()
             << ") to (" << now.x() << "," << now.y() << " " << now.width() << "x" << now.height() << ") at "
             << moment_ << ", event " << events_ << " (" << event_ << ")";
        first = line.str();
    }

    void click(const char* name) {
        auto* button = find<QPushButton>(name);
        ASSERT_TRUE(button->isVisible() && button->isEnabled()) << name;
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    }
    // Lets the event loop run for `ms`, every event checked.
    void run(int ms) { QTest::qWait(ms); }

    std::unique_ptr<AfterEachEvent> watching_;
    std::map<std::string, QRect> still_;
    QRect erase_;
    std::string moment_ = "before";
    int events_ = 0;
    std::string event_;
    std::map<std::string, std::pair<std::string, int>> moved_;
};

TEST_P(EraseLayoutFramesTest, NothingAtOrAboveStopMovesInAnyFrame) {
    const auto [size, scrolled, ending] = GetParam();
    pick();
    scan->setLastReport(card.report({MatchStatus::confirmed(sandbox / "drive/a")}));
    type("erase.confirmation", "CARD");
    ASSERT_TRUE(waitFor([&] { return find<QPushButton>("erase.run")->isEnabled(); }));
    auto* scroll = find<QScrollArea>("erase.cameraForm");
    // Scrolled to its end, where a form that grows or shrinks below Stop would take it along;
    // or as near its top as shows Erase (the top itself where Erase is in view there).
    if (scrolled) scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    else scroll->ensureWidgetVisible(find<QWidget>("erase.run"), 0, 0);
    run(50);
    watchFrames();

    card.filesPlanned = 4;
    card.holdErase = true;
    card.summary = [ending] {
        tessaline::CardPrepEngine::Summary summary;
        summary.foldersCreated = summary.foldersMade = {"DCIM/100MSDCF", "PRIVATE/M4ROOT/CLIP"};
        if (ending == Ending::stopped) {
            summary.cancelled = true;  // stopped inside DCIM, two files gone
            summary.filesDeleted = 2;
            summary.bytesFreed = 1'250'000;
        } else {
            summary.itemsDeleted = 1;
            summary.filesDeleted = 4;
            summary.bytesFreed = 2'500'000;
        }
        return summary;
    };
    card.holdWalk = ending == Ending::stoppedBeforeDeleting;
    moment_ = "the click on Erase";
    click("erase.run");
    if (ending == Ending::stoppedBeforeDeleting) {
        run(60);
        moment_ = "the click on Stop";
        click("erase.stop");
        ASSERT_TRUE(std::holds_alternative<CardPrepViewModel::Done>(vm->phase()));
        card.holdWalk = false;
    } else {
        ASSERT_TRUE(waitFor([&] { return card.erasing.load(); }));
        run(60);
        ASSERT_TRUE(std::holds_alternative<CardPrepViewModel::Running>(vm->phase()));
        EXPECT_EQ(find<QProgressBar>("erase.progress")->value(), 1) << "a file of four deleted";
    }
    if (ending == Ending::stopped) {
        moment_ = "the click on Stop";
        click("erase.stop");
        run(60);
        EXPECT_TRUE(vm->isStopping());
    }
    // The count after the erase takes its time: the card box says so meanwhile.
    card.holdCount = true;
    moment_ = "the erase's end";
    card.holdErase = false;
    ASSERT_TRUE(waitFor([&] { return std::holds_alternative<CardPrepViewModel::Done>(vm->phase()); }));
    run(120);

    moment_ = "the count after the erase";
    card.holdCount = false;
    ASSERT_TRUE(waitFor([&] { return !vm->isCounting(); }));
    run(60);
    watching_.reset();

    EXPECT_GT(events_, 20) << "the run's events were watched one by one";
    for (const auto& [what, seen] : moved_)
        ADD_FAILURE() << seen.first << ", out of place in " << seen.second << " frames";
}

std::string nameOf(const ::testing::TestParamInfo<std::tuple<QSize, bool, Ending>>& info) {
    const auto [size, scrolled, ending] = info.param;
    return std::to_string(size.width()) + "x" + std::to_string(size.height()) + (scrolled ? "AtTheEnd" : "NearTheTop") +
           (ending == Ending::stopped                 ? "Stopped"
            : ending == Ending::stoppedBeforeDeleting ? "StoppedBeforeDeleting"
                                                      : "Finished");
}

INSTANTIATE_TEST_SUITE_P(BothWindowSizes, EraseLayoutFramesTest,
                         ::testing::Combine(::testing::Values(leastDetail, defaultDetail, wideLowDetail), ::testing::Bool(),
                                            ::testing::Values(Ending::stopped, Ending::stoppedBeforeDeleting, Ending::finished)),
                         nameOf);

}  // namespace
}  // namespace brindlecove::testing

