#include "ScanTestMedia.hpp"

#include "Support/MediaFixtures.hpp"
#include "Support/TestSandbox.hpp"

#include "Tessaline/MetadataReader/NativeMetadataReader.hpp"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace brindlecove::testing {

namespace fs = std::filesystem;
using namespace tessaline::testing;

namespace {

// Made under /tmp itself, not under a test's private TMPDIR, which goes with that test.
fs::path makeFolder() {
    std::string pattern = "/tmp/brindlecove-scan-media-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

struct Originals {
    fs::path folder = makeFolder();
    fs::path jpeg = folder / "IMG.JPG";
    fs::path video = folder / "CLIP.MOV";
    fs::path audio = folder / "SOUND.M4A";
    ~Originals() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    Originals() {
        makeJpeg(jpeg, {"-DateTimeOriginal=2024:05:06 10:11:12", "-Make=Canon", "-Model=EOS R5"});
        makeVideo(video, {"-c:v", "mpeg4", "-metadata", "creation_time=2024-05-06T10:20:00Z"});
        makeAudio(audio, {"-c:a", "aac", "-metadata", "creation_time=2024-05-06T10:30:00Z"});
    }
};

const Originals& originals() {
    static Originals made;
    return made;
}

}  // namespace

const fs::path& testMediaOriginal(TestMedia kind) {
    switch (kind) {
    case TestMedia::jpeg: return originals().jpeg;
    case TestMedia::video: return originals().video;
    case TestMedia::audio: return originals().audio;
    }
    return originals().jpeg;
}

void copyFile(const fs::path& from, const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void writeDistinctMedia(TestMedia kind, const fs::path& to, int padding) {
    copyFile(testMediaOriginal(kind), to);
    std::ofstream out(to, std::ios::binary | std::ios::app);
    if (kind == TestMedia::jpeg) {
        out << std::string(size_t(padding), '\0');
    } else {
        out << atoms::box("free", std::string(size_t(padding), '\0'));
    }
}

GatingReader::GatingReader(int gateAt)
    : inner_(std::make_shared<tessaline::NativeMetadataReader>()), gateAt_(gateAt) {}

tessaline::Fingerprint GatingReader::fingerprint(const fs::path& url) {
    {
        std::unique_lock lock(mutex_);
        const int call = ++calls_;
        if (call == gateAt_) {
            reached_ = true;
            opened_.wait(lock, [this] { return open_; });
        }
    }
    return inner_->fingerprint(url);
}

bool GatingReader::reached() const {
    std::lock_guard lock(mutex_);
    return reached_;
}

void GatingReader::open() {
    {
        std::lock_guard lock(mutex_);
        open_ = true;
    }
    opened_.notify_all();
}

int GatingReader::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

}  // namespace brindlecove::testing
