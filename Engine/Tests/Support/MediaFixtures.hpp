#pragma once
// Real media made at test time with ffmpeg and exiftool, byte patches for faults the tools
// refuse to write, and a small QuickTime atom builder for the metadata item cases.

#include "Tessaline/Support/DateText.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tessaline::testing {

// Runs "ffmpeg -loglevel error -y <args>"; throws with its output on failure.
void ffmpeg(const std::vector<std::string>& args);
// Runs "exiftool -q -overwrite_original <args>"; throws with its output on failure.
void exiftool(const std::vector<std::string>& args);

// A 64x48 JPEG (one ffmpeg frame), then the given exiftool assignments ("-Make=X").
void makeJpeg(const std::filesystem::path& path, const std::vector<std::string>& tags = {});
// A short test-pattern video; `extra` goes before the output name (codec, -metadata ...).
void makeVideo(const std::filesystem::path& path, const std::vector<std::string>& extra = {},
               const std::string& size = "320x240");
// A one-second sine tone.
void makeAudio(const std::filesystem::path& path, const std::vector<std::string>& extra = {});

// Replaces the single occurrence of `from` by `to` (same length); throws when not exactly one.
void patchBytes(const std::filesystem::path& path, const std::string& from, const std::string& to);
// Keeps the first `bytes` bytes.
void truncateTo(const std::filesystem::path& path, size_t bytes);
void setModificationTime(const std::filesystem::path& path, EpochSeconds when);

// First "key=value" line of ffprobe's format tags or stream entries; "" when absent.
std::string ffprobeFormatTag(const std::filesystem::path& path, const std::string& tag);
std::string ffprobeVideoEntry(const std::filesystem::path& path, const std::string& entry);
// exiftool's value of one tag, "-s3" form ("" when absent).
std::string exiftoolValue(const std::filesystem::path& path, const std::string& tag, bool numeric = false);

namespace atoms {
std::string be32(uint32_t v);
std::string be64(uint64_t v);
std::string box(const std::string& type, const std::string& payload);
std::string largeBox(const std::string& type, const std::string& payload);  // 64-bit size
// mvhd version 0 (32-bit times) or 1 (64-bit), creation time in seconds since 1904.
std::string mvhd(uint64_t creation, int version = 0);
std::string hdlr(const std::string& handler);
std::string keys(const std::vector<std::string>& names, const std::string& space = "mdta");
std::string data(uint32_t type, const std::string& value);
std::string item(uint32_t keyIndex, const std::vector<std::string>& dataAtoms);
// moov/meta: QuickTime form (no version bytes) or ISO FullBox form.
std::string meta(const std::string& children, bool isoFullBox = false);
std::string utf16be(const std::u16string& text);
}  // namespace atoms

// Appends `child` to the moov box of a file whose moov is its last top-level box (ffmpeg's
// default layout), fixing the moov size. Media offsets are unchanged.
void appendToMovie(const std::filesystem::path& path, const std::string& child);

}  // namespace tessaline::testing
