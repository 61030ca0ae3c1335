#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/ViewModels/PreviewController.hpp"
#include "BrindlecoveApp/Views/PreviewWindow.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/MediaFixtures.hpp"

#include <QAudioDevice>
#include <QLabel>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace brindlecove;
using namespace brindlecove::testing;
namespace fs = std::filesystem;
namespace media = tessaline::testing;

namespace {

class PreviewWindowTest : public AppSandboxedTest {
protected:
    QStringList makeCard(const fs::path& card) {
        media::makeVideo(card / "A001.MP4", {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
        media::makeJpeg(card / "B001.JPG");
        media::writeFile(card / "C001.R3D", std::string(8192, 'R'));
        return {qtPath(card / "A001.MP4"), qtPath(card / "B001.JPG"), qtPath(card / "C001.R3D")};
    }
    // A camera clip with sound: H.264 video and AAC audio, two seconds long.
    static QString makeClipWithSound(const fs::path& path) {
        fs::create_directories(path.parent_path());
        media::ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-f", "lavfi", "-i",
                       "sine=frequency=440:sample_rate=48000", "-t", "2", "-c:v", "libx264", "-pix_fmt", "yuv420p",
                       "-c:a", "aac", "-shortest", path.string()});
        return qtPath(path);
    }
};

}  // namespace

TEST_F(PreviewWindowTest, ClipsWithSoundPlayStepAndCloseWithOrWithoutAnAudioDevice) {
    const QStringList files{makeClipWithSound(sandbox.path() / "card" / "C0001.MP4"),
                            makeClipWithSound(sandbox.path() / "card" / "C0004.MP4")};
    PreviewController controller;
    controller.setItems(files);
    PreviewWindow window(controller);
    auto isPlaying = [&](const QString& file) {
        return window.player() && window.player()->source() == QUrl::fromLocalFile(file) &&
               window.player()->playbackState() == QMediaPlayer::PlayingState;
    };

    controller.show(files[0]);
    ASSERT_TRUE(waitFor([&] { return isPlaying(files[0]); }));
    // Sound only where the machine can play it; without a device the clip plays muted.
    EXPECT_EQ(window.hasSound(), !QMediaDevices::audioOutputs().isEmpty());
    // It really plays for a while: the position moves on.
    EXPECT_TRUE(waitFor([&] { return window.player()->position() >= 1000; }))
        << "position " << window.player()->position();
    auto* playPause = window.findChild<QToolButton*>(QStringLiteral("preview.playPause"));
    ASSERT_NE(playPause, nullptr);
    playPause->click();
    EXPECT_TRUE(waitFor([&] { return window.player()->playbackState() == QMediaPlayer::PausedState; }));
    EXPECT_EQ(playPause->text(), QStringLiteral("Play"));
    playPause->click();
    EXPECT_TRUE(waitFor([&] { return isPlaying(files[0]); }));

    QTest::keyClick(&window, Qt::Key_Right);
    ASSERT_TRUE(waitFor([&] { return isPlaying(files[1]); }));
    EXPECT_TRUE(waitFor([&] { return window.player()->position() > 0; }));
    QTest::keyClick(&window, Qt::Key_Left);
    ASSERT_TRUE(waitFor([&] { return isPlaying(files[0]); }));
    waitFor([&] { return window.player()->position() > 200; });
    window.close();
    EXPECT_FALSE(controller.current());
    EXPECT_TRUE(window.player()->source().isEmpty());
    drainEvents();
}

TEST_F(PreviewWindowTest, StepsThroughTheFilesAndLetsGoOfEachOne) {
    const QStringList files = makeCard(sandbox.path() / "card");
    PreviewController controller;
    controller.setItems(files);
    PreviewWindow window(controller);
    auto playing = [&] { return window.player() && !window.player()->source().isEmpty(); };
    controller.show(files[0]);
    ASSERT_TRUE(window.isVisible());
    EXPECT_EQ(window.page(), PreviewWindow::Page::media);
    ASSERT_TRUE(waitFor(playing));  // once the file proved to open
    EXPECT_EQ(window.player()->source(), QUrl::fromLocalFile(files[0]));

    QTest::keyClick(&window, Qt::Key_Right);
    EXPECT_EQ(controller.current(), files[1]);
    EXPECT_TRUE(window.player()->source().isEmpty());
    EXPECT_EQ(window.page(), PreviewWindow::Page::image);
    EXPECT_TRUE(waitFor([&] { return window.hasImage(); }));

    QTest::keyClick(&window, Qt::Key_Right);
    EXPECT_EQ(window.page(), PreviewWindow::Page::info);
    EXPECT_TRUE(window.findChild<QLabel*>("preview.info")->text().contains("C001.R3D"));
    QTest::keyClick(&window, Qt::Key_Right);  // the last file stays
    EXPECT_EQ(controller.current(), files[2]);

    QTest::keyClick(&window, Qt::Key_Left);
    QTest::keyClick(&window, Qt::Key_Left);
    EXPECT_EQ(controller.current(), files[0]);
    EXPECT_TRUE(waitFor(playing));
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(controller.current());
    EXPECT_TRUE(window.player()->source().isEmpty());

    controller.show(files[1]);
    EXPECT_TRUE(window.isVisible());
    QTest::keyClick(&window, Qt::Key_Space);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(PreviewWindowTest, AVideoThatIsGoneOrBrokenShowsItsFactsAndNeverReachesThePlayer) {
    const auto broken = sandbox.path() / "broken.MP4";
    media::makeVideo(broken, {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
    media::truncateTo(broken, 1000);
    const QStringList files{qtPath(sandbox.path() / "gone.MOV"), qtPath(broken)};
    PreviewController controller;
    controller.setItems(files);
    PreviewWindow window(controller);
    for (const QString& file : files) {
        controller.show(file);
        ASSERT_TRUE(waitFor([&] { return window.page() == PreviewWindow::Page::info; })) << file.toStdString();
        EXPECT_TRUE(!window.player() || window.player()->source().isEmpty());
    }
}

TEST_F(PreviewWindowTest, ACardPreviewedAMomentAgoUnmounts) {
    TESSALINE_REQUIRE_ROOT();
    tessaline::testing::LoopVolume card("ext4", 32, "PREVIEWCARD");
    const QStringList files = makeCard(card.mountPoint());
    {
        PreviewController controller;
        controller.setItems(files);
        PreviewWindow window(controller);
        controller.show(files[0]);
        ASSERT_TRUE(waitFor([&] { return window.player() != nullptr; }));
        waitFor([&] {
            auto status = window.player()->mediaStatus();
            return status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia ||
                   status == QMediaPlayer::EndOfMedia || status == QMediaPlayer::InvalidMedia;
        }, 5000);
        controller.next();  // a still now; the video is let go
        waitFor([&] { return window.hasImage(); }, 5000);
        controller.previous();
        waitFor([] { return false; }, 300);
        window.close();
        drainEvents();
        // The window stays alive: only the player's release lets the card go.
        EXPECT_NO_THROW(card.unmount());
    }
}
