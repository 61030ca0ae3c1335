#include "Tessaline/MetadataReader/QuickTimeItems.hpp"

#include "Support/MediaFixtures.hpp"
#include "Support/TestSandbox.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tessaline;
using namespace tessaline::testing;
using namespace tessaline::testing::atoms;

namespace {

constexpr uint64_t from1904 = 2082844800;

QuickTimeMovieMetadata parse(const std::string& bytes) {
    return readQuickTimeMetadata(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

std::string movie(const std::string& moovChildren) {
    return box("ftyp", "qt  " + be32(0x200) + "qt  ") + box("mdat", std::string(32, 'x')) + box("moov", moovChildren);
}

std::string mdtaMeta(const std::vector<std::string>& keyNames, const std::string& ilstItems, bool iso = false) {
    return meta(hdlr("mdta") + keys(keyNames) + box("ilst", ilstItems), iso);
}

}  // namespace

TEST(QuickTimeItems, ItemsComeInOrderWithTheirValueKinds) {
    std::string items = item(1, {data(1, "first"), data(1, "second")}) +  // two values of one key
                        item(2, {data(21, be32(7))}) +                      // a number is not text
                        item(3, {data(2, utf16be(u"Kamera \u00e9"))}) +     // UTF-16BE text
                        item(9, {data(1, "no such key")}) +                 // out-of-range index: skipped
                        item(2, {data(4, "sorted utf8")}) +
                        item(1, {box("name", "ignored"), data(0, "\x01\x02")});
    auto result = parse(movie(mvhd(from1904 + 1714566896) +
                              mdtaMeta({"com.apple.quicktime.creationdate", "com.apple.quicktime.make",
                                        "com.apple.quicktime.camera.identifier"},
                                       items)));
    ASSERT_TRUE(result.movieFound);
    EXPECT_EQ(result.creationDate, 1714566896.0);
    ASSERT_EQ(result.items.size(), 6u);
    EXPECT_EQ(result.items[0].identifier, "mdta/com.apple.quicktime.creationdate");
    EXPECT_EQ(result.items[0].text, "first");
    EXPECT_EQ(result.items[1].text, "second");
    EXPECT_EQ(result.items[2].identifier, "mdta/com.apple.quicktime.make");
    EXPECT_FALSE(result.items[2].text);
    EXPECT_EQ(result.items[3].text, "Kamera \xc3\xa9");
    EXPECT_EQ(result.items[4].text, "sorted utf8");
    EXPECT_EQ(result.items[5].identifier, "mdta/com.apple.quicktime.creationdate");
    EXPECT_FALSE(result.items[5].text);
}

TEST(QuickTimeItems, IsoMetaWithVersionBytesAndLargeOrOpenEndedSizes) {
    std::string items = item(1, {data(1, "Sony")});
    auto iso = parse(movie(mvhd(0) + mdtaMeta({"com.apple.quicktime.make"}, items, true)));
    ASSERT_EQ(iso.items.size(), 1u);
    EXPECT_EQ(iso.items[0].text, "Sony");
    EXPECT_FALSE(iso.creationDate);  // 0 means unset

    // A 64-bit ilst size and a moov whose size 0 runs to the end of the file.
    std::string children = mvhd(from1904 + 100, 1) +
                           meta(hdlr("mdta") + keys({"com.apple.quicktime.make"}) + largeBox("ilst", items));
    std::string bytes = box("ftyp", "isom") + be32(0) + "moov" + children;
    auto large = parse(bytes);
    ASSERT_EQ(large.items.size(), 1u);
    EXPECT_EQ(large.creationDate, 100.0);
}

TEST(QuickTimeItems, MalformedMetaGivesNoItemsButKeepsTheHeaderDate) {
    std::string goodItems = item(1, {data(1, "Canon")});
    std::vector<std::string> brokenMetas = {
        meta(hdlr("mdir") + keys({"com.apple.quicktime.make"}) + box("ilst", goodItems)),  // not mdta
        meta(keys({"com.apple.quicktime.make"}) + box("ilst", goodItems)),                // no handler first
        meta(hdlr("mdta") + box("keys", std::string(4, '\0') + be32(1000)) + box("ilst", goodItems)),
        meta(hdlr("mdta") + keys({"com.apple.quicktime.make"}) + be32(4) + "ilst" + goodItems),  // size < header
        meta(hdlr("mdta") + keys({"com.apple.quicktime.make"}) + be32(5000) + "ilst" + goodItems),
        meta(hdlr("mdta") + keys({"com.apple.quicktime.make"}) + box("ilst", item(1, {be32(200) + "data"}))),
    };
    for (const auto& broken : brokenMetas) {
        auto result = parse(movie(mvhd(from1904 + 5) + broken));
        EXPECT_TRUE(result.movieFound);
        EXPECT_TRUE(result.items.empty());
        EXPECT_EQ(result.creationDate, 5.0);
    }
}

TEST(QuickTimeItems, TruncatedOrMissingMovieIsNotFound) {
    std::string whole = movie(mvhd(from1904 + 5) + mdtaMeta({"k"}, item(1, {data(1, "v")})));
    for (size_t cut : {size_t(0), size_t(3), size_t(20), whole.size() - 1}) {
        auto result = parse(whole.substr(0, cut));
        EXPECT_FALSE(result.movieFound) << cut;
        EXPECT_TRUE(result.items.empty());
    }
    EXPECT_FALSE(parse(box("ftyp", "isom") + box("free", "")).movieFound);
}

TEST(QuickTimeItems, HeaderTimesFollowFfmpegConversion) {
    EXPECT_EQ(parse(movie(mvhd(from1904 + 1714566896, 1))).creationDate, 1714566896.0);
    // Some writers store Unix time: values below the 1904 offset are taken as they are.
    EXPECT_EQ(parse(movie(mvhd(1714566896))).creationDate, 1714566896.0);
    EXPECT_FALSE(parse(movie(mvhd(INT64_MAX, 1))).creationDate);  // beyond microseconds, as FFmpeg
}

class QuickTimeItemsFileTest : public SandboxedTest {};

TEST_F(QuickTimeItemsFileTest, AgreesWithFfprobeOnAnFfmpegMovie) {
    auto path = sandbox / "tagged.mov";
    makeVideo(path, {"-c:v", "mpeg4", "-metadata", "creation_time=2024-05-01T12:34:56Z", "-movflags",
                     "use_metadata_tags", "-metadata", "com.apple.quicktime.make= Canon ", "-metadata",
                     "com.apple.quicktime.camera.identifier=Front"});
    auto result = readQuickTimeMetadata(path);
    ASSERT_TRUE(result.movieFound);
    ASSERT_TRUE(result.creationDate);
    EXPECT_EQ(formatIso8601(*result.creationDate) , "2024-05-01T12:34:56Z");
    std::string make, model;
    for (const auto& item : result.items) {
        if (item.identifier == "mdta/com.apple.quicktime.make") make = item.text.value_or("?");
        if (item.identifier == "mdta/com.apple.quicktime.camera.identifier") model = item.text.value_or("?");
    }
    EXPECT_EQ(make, ffprobeFormatTag(path, "com.apple.quicktime.make"));
    EXPECT_EQ(make, " Canon ");
    EXPECT_EQ(model, ffprobeFormatTag(path, "com.apple.quicktime.camera.identifier"));
}

TEST_F(QuickTimeItemsFileTest, NonRegularFilesGiveNothing) {
    EXPECT_FALSE(readQuickTimeMetadata(sandbox.path()).movieFound);
    EXPECT_FALSE(readQuickTimeMetadata(sandbox / "missing.mov").movieFound);
    auto fifo = sandbox / "pipe.mov";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(readQuickTimeMetadata(fifo).movieFound);  // and does not block
}
