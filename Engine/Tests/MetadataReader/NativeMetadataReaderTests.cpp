#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"

#include "Support/MediaFixtures.hpp"
#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace tessaline;
using namespace tessaline::testing;
using namespace tessaline::testing::atoms;

namespace {

const EpochSeconds may1 = epochFromUtc(2024, 5, 1, 12, 34, 56);
const EpochSeconds fileTime = epochFromUtc(2020, 1, 2, 3, 4, 5);

class NativeMetadataReaderTest : public SandboxedTest {
protected:
    NativeMetadataReader reader;

    // The file's modification time is set to `fileTime` so fallbacks are recognisable.
    Fingerprint read(const std::filesystem::path& path) {
        setModificationTime(path, fileTime);
        return reader.fingerprint(path);
    }

    static void expectDegraded(const Fingerprint& f, const std::filesystem::path& path) {
        EXPECT_EQ(f.url, path);
        EXPECT_EQ(f.byteSize, static_cast<int64_t>(std::filesystem::file_size(path)));
        EXPECT_EQ(f.captureDate, fileTime);
        EXPECT_FALSE(f.hasCameraTimestamp);
        EXPECT_EQ(f.timestampSource, TimestampSource::filesystemDate);
        EXPECT_FALSE(f.duration);
        EXPECT_FALSE(f.cameraMake);
        EXPECT_FALSE(f.cameraModel);
        EXPECT_FALSE(f.codec);
        EXPECT_FALSE(f.width);
        EXPECT_FALSE(f.height);
    }

    // A 1-second mpeg4 MOV without a creation date, with our own moov/meta appended.
    std::filesystem::path movieWithItems(const std::string& name, const std::vector<std::string>& keyNames,
                                         const std::string& items) {
        auto path = sandbox / name;
        makeVideo(path, {"-c:v", "mpeg4"});
        appendToMovie(path, meta(hdlr("mdta") + keys(keyNames) + box("ilst", items)));
        return path;
    }
};

}  // namespace

TEST_F(NativeMetadataReaderTest, JpegExifAgreesWithExiftool) {
    auto path = sandbox / "IMG_0001.JPG";
    makeJpeg(path, {"-DateTimeOriginal=2024:05:01 12:34:56", "-SubSecTimeOriginal=5", "-Make= \tCanon \t",
                    "-Model=EOS R5", "-ModifyDate=2023:01:01 00:00:00"});
    auto f = read(path);
    EXPECT_EQ(f.timestampSource, TimestampSource::exifOriginal);
    EXPECT_TRUE(f.hasCameraTimestamp);
    ASSERT_TRUE(f.captureDate);
    EXPECT_DOUBLE_EQ(*f.captureDate, may1 + 0.5);
    EXPECT_EQ(f.cameraMake, "Canon");
    EXPECT_EQ(f.cameraModel, exiftoolValue(path, "Model"));
    EXPECT_EQ(std::to_string(*f.width), exiftoolValue(path, "ImageWidth"));
    EXPECT_EQ(std::to_string(*f.height), exiftoolValue(path, "ImageHeight"));
    EXPECT_EQ(f.byteSize, static_cast<int64_t>(std::filesystem::file_size(path)));
    EXPECT_FALSE(f.duration);
    EXPECT_FALSE(f.codec);
}

TEST_F(NativeMetadataReaderTest, PaddedSubsecondsKeepTheCameraDate) {
    auto padded = sandbox / "padded-subsec.jpg";
    makeJpeg(padded, {"-DateTimeOriginal=2024:05:01 12:34:56", "-SubSecTimeOriginal=987"});
    patchBytes(padded, std::string("987\0", 4), std::string("50 \0", 4));
    auto f = read(padded);
    EXPECT_EQ(f.timestampSource, TimestampSource::exifOriginal);
    EXPECT_DOUBLE_EQ(f.captureDate.value_or(0), may1 + 0.5);

    auto blank = sandbox / "blank-subsec.jpg";
    makeJpeg(blank, {"-DateTimeOriginal=2024:05:01 12:34:56", "-SubSecTimeOriginal=987"});
    patchBytes(blank, std::string("987\0", 4), std::string("   \0", 4));
    auto g = read(blank);
    EXPECT_EQ(g.timestampSource, TimestampSource::exifOriginal);
    EXPECT_EQ(g.captureDate, may1);
}

TEST_F(NativeMetadataReaderTest, StillDateFallbacks) {
    // An EXIF date that does not parse goes to the file date, not on to the TIFF date.
    auto badExif = sandbox / "bad-exif-date.jpg";
    makeJpeg(badExif, {"-DateTimeOriginal=2024:05:01 12:34:56", "-ModifyDate=2023:03:04 05:06:07"});
    patchBytes(badExif, "2024:05:01", "2024:13:01");
    auto f = read(badExif);
    EXPECT_EQ(f.timestampSource, TimestampSource::filesystemDate);
    EXPECT_EQ(f.captureDate, fileTime);
    EXPECT_FALSE(f.hasCameraTimestamp);

    auto tiffOnly = sandbox / "tiff-date.jpg";
    makeJpeg(tiffOnly, {"-ModifyDate=2023:03:04 05:06:07"});
    auto g = read(tiffOnly);
    EXPECT_EQ(g.timestampSource, TimestampSource::tiffDateTime);
    EXPECT_EQ(g.captureDate, epochFromUtc(2023, 3, 4, 5, 6, 7));
    EXPECT_TRUE(g.hasCameraTimestamp);

    auto plain = sandbox / "no-exif.jpg";
    makeJpeg(plain);
    auto h = read(plain);
    EXPECT_EQ(h.timestampSource, TimestampSource::filesystemDate);
    EXPECT_EQ(h.width, 64);
    EXPECT_EQ(h.height, 48);
    EXPECT_FALSE(h.cameraMake);

    auto blankMake = sandbox / "blank-make.jpg";
    makeJpeg(blankMake, {"-Make=   "});
    EXPECT_EQ(read(blankMake).cameraMake.value_or("absent"), "");
}

TEST_F(NativeMetadataReaderTest, BmffStillNeedsTheBmffReader) {
    auto path = sandbox / "photo.avif";
    ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48", "-frames:v", "1", "-c:v", "libaom-av1", "-still-picture", "1",
            path.string()});
    exiftool({"-DateTimeOriginal=2024:05:01 12:34:56", "-Make=Sony", path.string()});
    auto f = read(path);
    EXPECT_EQ(f.timestampSource, TimestampSource::exifOriginal);
    EXPECT_EQ(f.captureDate, may1);
    EXPECT_EQ(f.cameraMake, "Sony");
}

TEST_F(NativeMetadataReaderTest, MovieAgreesWithFfprobe) {
    auto path = sandbox / "A001C002.MOV";
    makeVideo(path, {"-c:v", "mpeg4", "-metadata", "creation_time=2024-05-01T12:34:56Z"});
    auto f = read(path);
    EXPECT_EQ(f.timestampSource, TimestampSource::quickTimeAtom);
    EXPECT_TRUE(f.hasCameraTimestamp);
    EXPECT_EQ(f.captureDate, may1);
    EXPECT_EQ(formatIso8601(*f.captureDate), ffprobeFormatTag(path, "creation_time").substr(0, 19) + "Z");
    EXPECT_EQ(f.codec, ffprobeVideoEntry(path, "codec_tag_string"));
    EXPECT_EQ(f.codec, "mp4v");
    EXPECT_EQ(f.width, 320);
    EXPECT_EQ(f.height, 240);
    ASSERT_TRUE(f.duration);
    auto probed = runCommand({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0",
                              path.string()});
    EXPECT_NEAR(*f.duration, std::stod(probed.output), 1e-6);
    EXPECT_FALSE(f.cameraMake);
}

TEST_F(NativeMetadataReaderTest, Mp4AndPortraitKeepStoredSize) {
    auto path = sandbox / "clip.mp4";
    makeVideo(path, {"-c:v", "libx264", "-metadata:s:v", "rotate=90", "-metadata", "creation_time=2024-05-01T12:34:56Z"});
    auto f = read(path);
    EXPECT_EQ(f.timestampSource, TimestampSource::quickTimeAtom);
    EXPECT_EQ(f.codec, "avc1");
    EXPECT_EQ(f.width, 320);
    EXPECT_EQ(f.height, 240);
}

TEST_F(NativeMetadataReaderTest, CreationDateItemsAreSearchedInOrder) {
    std::string items = item(1, {data(1, "not a date")}) + item(2, {data(1, "2024-05-01T12:34:56.789Z")}) +
                        item(1, {data(1, "2024-05-01 12:34:56")});
    auto path = movieWithItems("items.mov", {"com.apple.quicktime.creationdate", "com.apple.quicktime.creationdate"},
                               items);
    auto f = read(path);
    EXPECT_EQ(f.timestampSource, TimestampSource::quickTimeMeta);
    EXPECT_TRUE(f.hasCameraTimestamp);
    EXPECT_DOUBLE_EQ(f.captureDate.value_or(0), may1 + 0.789);
}

TEST_F(NativeMetadataReaderTest, LastMakeItemWinsAndNumbersClearIt) {
    std::string items = item(1, {data(1, " Apple ")}) + item(2, {data(1, "Back Camera ")}) + item(1, {data(21, be32(3))});
    auto numeric = movieWithItems("numeric-make.mov", {"com.apple.quicktime.make", "com.apple.quicktime.camera.identifier"},
                                  items);
    auto f = read(numeric);
    EXPECT_FALSE(f.cameraMake);
    EXPECT_EQ(f.cameraModel, "Back Camera ");  // never trimmed on the movie path
    EXPECT_EQ(f.timestampSource, TimestampSource::filesystemDate);

    auto text = movieWithItems("text-make.mov", {"com.apple.quicktime.make"}, item(1, {data(1, " Apple ")}));
    EXPECT_EQ(read(text).cameraMake, " Apple ");
}

TEST_F(NativeMetadataReaderTest, OtherContainers) {
    auto mxf = sandbox / "A001.MXF";
    makeVideo(mxf, {"-c:v", "mpeg2video", "-metadata", "creation_time=2024-05-01T12:34:56Z"});
    auto m = read(mxf);
    // FFmpeg's MXF muxer stores the time as a modification date, which is not a capture date.
    EXPECT_EQ(ffprobeFormatTag(mxf, "creation_time"), "");
    EXPECT_EQ(m.timestampSource, TimestampSource::filesystemDate);
    EXPECT_TRUE(m.duration);
    EXPECT_FALSE(m.codec);  // MXF gives no four-character code
    EXPECT_EQ(m.width, 320);

    auto avi = sandbox / "MVI_0001.AVI";
    makeVideo(avi, {"-c:v", "mpeg4"});
    auto v = read(avi);
    EXPECT_EQ(v.codec, ffprobeVideoEntry(avi, "codec_tag_string"));
    EXPECT_EQ(v.width, 320);

    auto mts = sandbox / "00001.MTS";
    makeVideo(mts, {"-c:v", "mpeg2video", "-f", "mpegts"});
    auto t = read(mts);
    EXPECT_EQ(t.timestampSource, TimestampSource::filesystemDate);
    EXPECT_FALSE(t.codec);  // MPEG-TS gives a stream type, not a code
    EXPECT_EQ(t.width, 320);
    EXPECT_EQ(t.height, 240);
    EXPECT_TRUE(t.duration);

    auto wav = sandbox / "ZOOM0001.WAV";
    makeAudio(wav);
    auto w = read(wav);
    ASSERT_TRUE(w.duration);
    EXPECT_NEAR(*w.duration, 1.0, 0.05);
    EXPECT_FALSE(w.codec);
    EXPECT_FALSE(w.width);
    EXPECT_EQ(w.timestampSource, TimestampSource::filesystemDate);

    // Cover art is a video stream that must not count as the first video track.
    auto cover = sandbox / "cover.jpg";
    makeJpeg(cover);
    auto mp3 = sandbox / "memo.mp3";
    ffmpeg({"-f", "lavfi", "-i", "sine=duration=1", "-i", cover.string(), "-map", "0", "-map", "1", "-c:v", "mjpeg",
            "-disposition:v", "attached_pic", "-id3v2_version", "3", mp3.string()});
    auto a = read(mp3);
    EXPECT_TRUE(a.duration);
    EXPECT_FALSE(a.codec);
    EXPECT_FALSE(a.width);
    EXPECT_FALSE(a.height);
}

TEST_F(NativeMetadataReaderTest, HostileAndRenamedFilesGiveTheDegradedFingerprint) {
    auto truncated = sandbox / "truncated-moov.mov";
    makeVideo(truncated, {"-c:v", "mpeg4", "-metadata", "creation_time=2024-05-01T12:34:56Z"});
    truncateTo(truncated, std::filesystem::file_size(truncated) - 200);
    expectDegraded(read(truncated), truncated);

    auto movieAsJpeg = sandbox / "movie-renamed.jpg";
    makeVideo(movieAsJpeg, {"-c:v", "mpeg4", "-f", "mov"});
    expectDegraded(read(movieAsJpeg), movieAsJpeg);

    auto wavAsJpeg = sandbox / "wav-renamed.jpg";
    makeAudio(wavAsJpeg, {"-f", "wav"});
    expectDegraded(read(wavAsJpeg), wavAsJpeg);

    auto jpegAsMov = sandbox / "jpeg-renamed.mov";
    makeJpeg(jpegAsMov);
    expectDegraded(read(jpegAsMov), jpegAsMov);

    auto playlist = sandbox / "playlist-renamed.mp4";
    writeFile(playlist, "#EXTM3U\n#EXTINF:1,\nfile:///etc/passwd\n");
    expectDegraded(read(playlist), playlist);

    auto text = sandbox / "notes.txt";
    writeFile(text, "just some words\n");
    expectDegraded(read(text), text);

    auto shortExif = sandbox / "truncated-exif.jpg";
    makeJpeg(shortExif, {"-DateTimeOriginal=2024:05:01 12:34:56"});
    truncateTo(shortExif, 40);
    auto s = read(shortExif);
    EXPECT_EQ(s.timestampSource, TimestampSource::filesystemDate);
    EXPECT_FALSE(s.cameraMake);

    auto empty = sandbox / "empty.MOV";
    writeFile(empty, "");
    expectDegraded(read(empty), empty);
}

TEST_F(NativeMetadataReaderTest, OddNamesAreRead) {
    for (std::string name : {"bad-utf8-\xff\xfe.jpg", "colon:in:name.jpg", "file:fake.jpg", "%00percent.jpg"}) {
        auto path = sandbox / name;
        makeJpeg(sandbox / "src.jpg", {"-DateTimeOriginal=2024:05:01 12:34:56"});
        std::filesystem::rename(sandbox / "src.jpg", path);
        EXPECT_EQ(read(path).timestampSource, TimestampSource::exifOriginal) << name;
    }
    auto movie = sandbox / "http:evil.mov";
    makeVideo(movie, {"-c:v", "mpeg4", "-metadata", "creation_time=2024-05-01T12:34:56Z", "-f", "mov"});
    EXPECT_EQ(read(movie).timestampSource, TimestampSource::quickTimeAtom);
}

TEST_F(NativeMetadataReaderTest, NonRegularFilesAreNeverOpened) {
    auto missing = reader.fingerprint(sandbox / "missing.jpg");
    EXPECT_EQ(missing.byteSize, 0);
    EXPECT_FALSE(missing.captureDate);
    EXPECT_EQ(missing.timestampSource, TimestampSource::none);

    auto fifo = sandbox / "pipe.mov";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto p = reader.fingerprint(fifo);  // would block forever if opened
    EXPECT_EQ(p.timestampSource, TimestampSource::filesystemDate);
    EXPECT_FALSE(p.duration);

    auto zero = sandbox / "zero.mov";
    std::filesystem::create_symlink("/dev/zero", zero);
    EXPECT_FALSE(reader.fingerprint(zero).duration);

    auto folder = sandbox / "folder.jpg";
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(reader.fingerprint(folder).width);
}

TEST_F(NativeMetadataReaderTest, ManyThreadsGetTheSameAnswers) {
    auto jpeg = sandbox / "a.jpg";
    makeJpeg(jpeg, {"-DateTimeOriginal=2024:05:01 12:34:56", "-Make=Nikon"});
    auto mov = sandbox / "b.mov";
    makeVideo(mov, {"-c:v", "mpeg4", "-metadata", "creation_time=2024-05-01T12:34:56Z"});
    auto expectedJpeg = read(jpeg);
    auto expectedMov = read(mov);
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                auto j = reader.fingerprint(jpeg);
                auto m = reader.fingerprint(mov);
                if (j.captureDate != expectedJpeg.captureDate || j.cameraMake != expectedJpeg.cameraMake ||
                    m.captureDate != expectedMov.captureDate || m.codec != expectedMov.codec ||
                    m.duration != expectedMov.duration)
                    ++mismatches;
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}
