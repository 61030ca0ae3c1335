#pragma once
// Tells video, audio and still files apart by their lower-cased extension.
// The sets are built once and shared; safe on any thread.

#include <filesystem>
#include <string>
#include <unordered_set>

namespace tessaline {

struct MediaClassifier {
    static const std::unordered_set<std::string>& videoExtensions();  // 17
    static const std::unordered_set<std::string>& audioExtensions();  // 9

    static bool isVideo(const std::filesystem::path& url);
    static bool isAudio(const std::filesystem::path& url);
    // Neither video nor audio: any other extension, or none, counts as a photo.
    static bool isPhoto(const std::filesystem::path& url);
};

}  // namespace tessaline
