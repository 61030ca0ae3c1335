#include "BrindlecoveApp/PathConversion.hpp"
#include "BrindlecoveApp/Views/EmbeddedPreview.hpp"
#include "BrindlecoveApp/Views/ThumbnailMaker.hpp"
#include "BrindlecoveApp/Views/ThumbnailService.hpp"

#include "Support/AppTestSandbox.hpp"
#include "Support/MediaFixtures.hpp"

#include <QBuffer>
#include <QImage>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace brindlecove;
using namespace brindlecove::testing;
namespace fs = std::filesystem;
namespace media = tessaline::testing;

namespace {

const QSize cover(112, 80);

void put16(std::string& out, uint16_t v) { out.append({char(v & 0xff), char(v >> 8)}); }
void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xff));
}
void entry(std::string& out, uint16_t tag, uint16_t type, uint32_t value) {
    put16(out, tag);
    put16(out, type);
    put32(out, 1);
    if (type == 3) {
        put16(out, static_cast<uint16_t>(value));
        put16(out, 0);
    } else {
        put32(out, value);
    }
}

// A TIFF laid out like a camera RAW: a grey main image in IFD0 (with an EXIF orientation)
// and a JPEG preview in IFD1, which is where such files keep what is shown of them.
void writeRawLikeTiff(const fs::path& path, const QImage& preview, int orientation) {
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    preview.save(&buffer, "JPEG");
    const uint32_t width = 64, height = 48;
    const uint32_t ifd0 = 8, ifd0Entries = 10;
    const uint32_t ifd1 = ifd0 + 2 + ifd0Entries * 12 + 4, ifd1Entries = 3;
    const uint32_t pixels = ifd1 + 2 + ifd1Entries * 12 + 4;
    const uint32_t jpegAt = pixels + width * height;
    std::string out = "II";
    put16(out, 42);
    put32(out, ifd0);
    put16(out, ifd0Entries);
    entry(out, 256, 4, width);
    entry(out, 257, 4, height);
    entry(out, 258, 3, 8);
    entry(out, 259, 3, 1);
    entry(out, 262, 3, 1);
    entry(out, 273, 4, pixels);
    entry(out, 274, 3, static_cast<uint32_t>(orientation));
    entry(out, 277, 3, 1);
    entry(out, 278, 4, height);
    entry(out, 279, 4, width * height);
    put32(out, ifd1);
    put16(out, ifd1Entries);
    entry(out, 259, 3, 6);
    entry(out, 513, 4, jpegAt);
    entry(out, 514, 4, static_cast<uint32_t>(jpeg.size()));
    put32(out, 0);
    out.append(width * height, char(0x80));
    out.append(jpeg.constData(), static_cast<size_t>(jpeg.size()));
    media::writeFile(path, out);
}

QImage make(const fs::path& path) { return ThumbnailMaker::make(qtPath(path), cover); }

}  // namespace

class ThumbnailMakerTest : public AppSandboxedTest {};

TEST_F(ThumbnailMakerTest, StillsAtReducedSizeAndUpright) {
    const auto upright = sandbox.path() / "upright.jpg";
    const auto turned = sandbox.path() / "turned.jpg";
    media::makeJpeg(upright);
    media::makeJpeg(turned, {"-Orientation=6", "-n"});
    QImage a = make(upright);
    QImage b = make(turned);
    ASSERT_FALSE(a.isNull());
    ASSERT_FALSE(b.isNull());
    EXPECT_GT(a.width(), a.height());
    EXPECT_LT(b.width(), b.height());  // stored landscape, shown portrait

    const auto png = sandbox.path() / "big.png";
    media::ffmpeg({"-f", "lavfi", "-i", "testsrc=size=1600x1200", "-frames:v", "1", png.string()});
    QImage p = make(png);
    ASSERT_FALSE(p.isNull());
    EXPECT_EQ(p.size(), QSize(112, 84));  // covers 112 × 80, aspect kept, decoded small
}

TEST_F(ThumbnailMakerTest, RawFilesShowTheirEmbeddedPreviewUpright) {
    QImage preview(320, 240, QImage::Format_RGB32);
    preview.fill(Qt::red);
    const auto raw = sandbox.path() / "DSC_0001.NEF";
    writeRawLikeTiff(raw, preview, 6);
    QImage whole = EmbeddedPreview::read(qtPath(raw));
    ASSERT_FALSE(whole.isNull());
    EXPECT_EQ(whole.size(), QSize(240, 320));
    const QColor middle = whole.pixelColor(120, 160);
    EXPECT_GT(middle.red(), 200);
    EXPECT_LT(middle.green(), 60);
    QImage thumb = make(raw);
    ASSERT_FALSE(thumb.isNull());
    EXPECT_LT(thumb.width(), thumb.height());
    // A RAW without a preview keeps the icon.
    const auto bare = sandbox.path() / "bare.NEF";
    media::writeFile(bare, "II*\0 not really a raw file");
    EXPECT_TRUE(make(bare).isNull());
}

TEST_F(ThumbnailMakerTest, VideosGiveOneFrameTurnedByTheirDisplayMatrix) {
    const auto mp4 = sandbox.path() / "C0001.MP4";
    const auto mov = sandbox.path() / "C0002.MOV";
    const auto squeezed = sandbox.path() / "C0003.MOV";
    media::makeVideo(mp4, {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
    media::makeVideo(mov, {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
    media::exiftool({"-Rotation=90", mov.string()});  // the track's display matrix
    media::makeVideo(squeezed, {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-vf", "setsar=2/1"}, "160x240");
    QImage a = make(mp4);
    ASSERT_FALSE(a.isNull());
    EXPECT_EQ(a.size(), QSize(112, 84));
    QImage b = make(mov);
    ASSERT_FALSE(b.isNull());
    EXPECT_LT(b.width(), b.height());
    QImage c = make(squeezed);  // 160 × 240 stored pixels, shown 320 × 240
    ASSERT_FALSE(c.isNull());
    EXPECT_GT(c.width(), c.height());
}

TEST_F(ThumbnailMakerTest, BrokenVideosAndAudioKeepTheIcon) {
    const auto cut = sandbox.path() / "cut.MP4";
    media::makeVideo(cut, {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
    media::truncateTo(cut, fs::file_size(cut) / 2);  // the movie header is at the end: gone
    EXPECT_TRUE(make(cut).isNull());
    const auto cutFront = sandbox.path() / "cutfront.MOV";
    media::makeVideo(cutFront, {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-movflags", "+faststart"});
    media::truncateTo(cutFront, 2048);  // header kept, frames gone
    EXPECT_TRUE(make(cutFront).isNull());
    const auto audio = sandbox.path() / "sound.WAV";
    media::makeAudio(audio);
    EXPECT_TRUE(make(audio).isNull());
    const auto r3d = sandbox.path() / "A001.R3D";
    media::writeFile(r3d, std::string(4096, 'R'));
    EXPECT_TRUE(make(r3d).isNull());
}

namespace {

// A maker that holds every call until released and records the order of calls.
struct GatedMaker {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    QStringList calls;

    ThumbnailService::Maker maker() {
        return [this](const QString& path, QSize) {
            std::unique_lock lock(mutex);
            calls << path;
            changed.notify_all();
            changed.wait(lock, [this] { return open; });
            if (path.startsWith("bad")) return QImage();
            QImage image(4, 4, QImage::Format_RGB32);
            image.fill(Qt::blue);
            return image;
        };
    }
    bool waitForCalls(int n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return calls.size() >= n; });
    }
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

}  // namespace

TEST_F(ThumbnailMakerTest, ServiceServesNewestFirstCachesAndNeverRetries) {
    GatedMaker gate;
    ThumbnailService service(cover, gate.maker());
    QSignalSpy ready(&service, &ThumbnailService::thumbnailReady);
    EXPECT_FALSE(service.thumbnail("a"));
    EXPECT_FALSE(service.thumbnail("bad"));
    ASSERT_TRUE(gate.waitForCalls(2));  // both pool threads busy
    EXPECT_FALSE(service.thumbnail("c"));
    EXPECT_FALSE(service.thumbnail("d"));
    EXPECT_FALSE(service.thumbnail("e"));
    EXPECT_FALSE(service.thumbnail("e"));  // asked once only
    gate.release();
    ASSERT_TRUE(waitFor([&] { return ready.count() == 5; }));
    ASSERT_EQ(gate.calls.size(), 5);
    EXPECT_NE(gate.calls[2], "c");  // the oldest waiting request is served last

    auto cached = service.thumbnail("a");
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->size(), QSize(4, 4));
    // Another card's file at the same path (another size) is made anew.
    EXPECT_FALSE(service.thumbnail("a", 123));
    EXPECT_TRUE(service.hasFailed("bad"));
    EXPECT_FALSE(service.thumbnail("bad"));
    service.waitForDone();
    drainEvents();
    EXPECT_EQ(gate.calls.count("bad"), 1);
    EXPECT_EQ(gate.calls.count("a"), 2);
}
