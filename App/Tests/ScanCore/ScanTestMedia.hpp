#pragma once
// Real media for the scan tests, made once per test program with ffmpeg and exiftool, and
// distinct copies of them (the same media with a padding of their own, so each copy is a
// different clip by size), plus a metadata reader that stops at a chosen file until the
// test lets it go.

#include "Tessaline/MetadataReader/MetadataReader.hpp"

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>

namespace brindlecove::testing {

enum class TestMedia { jpeg, video, audio };

// The original of a kind (made on first use).
const std::filesystem::path& testMediaOriginal(TestMedia kind);
// Writes the original of `kind` with `padding` extra bytes to `to` (folders created):
// a JPEG gets them after its end marker, a QuickTime file as a trailing "free" box.
void writeDistinctMedia(TestMedia kind, const std::filesystem::path& to, int padding);
// Copies a file byte for byte (folders created).
void copyFile(const std::filesystem::path& from, const std::filesystem::path& to);

// A reader over the native one whose `gateAt`-th call (1-based, over all threads) waits
// until open() is called; reached() tells whether that call has begun.
class GatingReader final : public tessaline::MetadataReader {
public:
    explicit GatingReader(int gateAt);
    tessaline::Fingerprint fingerprint(const std::filesystem::path& url) override;
    bool reached() const;
    void open();
    int calls() const;

private:
    std::shared_ptr<tessaline::MetadataReader> inner_;
    int gateAt_;
    mutable std::mutex mutex_;
    std::condition_variable opened_;
    int calls_ = 0;
    bool reached_ = false;
    bool open_ = false;
};

}  // namespace brindlecove::testing
