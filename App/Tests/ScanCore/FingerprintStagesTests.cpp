// Fingerprinting a source on several threads into one list, on real media: a drive's run that
// takes the walk's paths gives what a one-thread run gives, and a stop keeps an unbroken run
// of files from the first.

#include "ScanTestMedia.hpp"

#include "BrindlecoveApp/ViewModels/FingerprintStages.hpp"
#include "Support/AppTestSandbox.hpp"

#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"

#include <gtest/gtest.h>

#include <atomic>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using tessaline::Fingerprint;
using tessaline::MediaFile;
using testing::TestMedia;
using testing::writeDistinctMedia;

class FingerprintStagesTest : public testing::AppSandboxedTest {
protected:
    // 45 photos and 5 videos, listed in path order as a walk lists them.
    std::vector<MediaFile> makeFiles() const {
        std::vector<MediaFile> files;
        for (int i = 10; i < 60; ++i) {
            const bool video = i % 10 == 0;
            fs::path path = sandbox / (std::to_string(i) + (video ? ".MOV" : ".JPG"));
            writeDistinctMedia(video ? TestMedia::video : TestMedia::jpeg, path, i);
            files.push_back({path, MediaFile::Kind::media, static_cast<int64_t>(fs::file_size(path))});
        }
        return files;
    }
};

std::vector<std::string> descriptions(const std::vector<Fingerprint>& prints) {
    std::vector<std::string> lines;
    for (const Fingerprint& print : prints) lines.push_back(print.url.native() + "  " + print.description());
    return lines;
}

TEST_F(FingerprintStagesTest, TakingThePathsOnManyThreadsGivesTheOneThreadResult) {
    std::vector<MediaFile> files = makeFiles();
    tessaline::NativeMetadataReader reader;
    const std::vector<Fingerprint> one = FingerprintStages(1).run(files, reader, {}, {});
    const std::vector<MediaFile> listed = files;
    const std::vector<Fingerprint> taken = FingerprintStages(8).runTakingPaths(files, reader, {}, {});
    EXPECT_EQ(descriptions(taken), descriptions(one));
    ASSERT_EQ(taken.size(), 50u);
    EXPECT_EQ(taken.front().url, listed[1].url) << "photos first (10.MOV is a video), in path order";
    for (const MediaFile& file : files) EXPECT_TRUE(file.url.empty());
}

TEST_F(FingerprintStagesTest, AStopKeepsAnUnbrokenRunFromTheFirstFile) {
    std::vector<MediaFile> files = makeFiles();
    const std::vector<MediaFile> listed = files;
    tessaline::NativeMetadataReader reader;
    std::atomic<bool> stop{false};
    int lastReported = 0;
    const std::vector<Fingerprint> prints = FingerprintStages(4).runTakingPaths(
        files, reader, [&] { return stop.load(); },
        [&](MediaKind, int done, int, double) {
            lastReported = done;
            if (done >= 20) stop = true;
        });
    ASSERT_GE(prints.size(), 20u);
    ASSERT_LE(prints.size(), 45u) << "no video is read after the stop";
    EXPECT_GE(static_cast<int>(prints.size()), lastReported);
    std::vector<std::string> photos;
    for (const MediaFile& file : listed)
        if (file.url.native().ends_with(".JPG")) photos.push_back(file.url.native());
    for (size_t i = 0; i < prints.size(); ++i) {
        EXPECT_EQ(prints[i].url.native(), photos[i]);
        EXPECT_GT(prints[i].byteSize, 0);
    }
}

}  // namespace
}  // namespace brindlecove
