#include "Tessaline/Scanner/MediaClassifier.hpp"

#include "Tessaline/Support/PathText.hpp"
#include "Tessaline/Support/TextCase.hpp"

namespace tessaline {

const std::unordered_set<std::string>& MediaClassifier::videoExtensions() {
    static const std::unordered_set<std::string> set{"mov", "mp4", "m4v", "avi", "mts", "m2ts",
                                                     "mpg", "mpeg", "m2v", "3gp", "3g2", "dv",
                                                     "mxf", "r3d", "braw", "ari", "crm"};
    return set;
}

const std::unordered_set<std::string>& MediaClassifier::audioExtensions() {
    static const std::unordered_set<std::string> set{"wav", "bwf", "mp3", "m4a", "aac",
                                                     "aif", "aiff", "flac", "caf"};
    return set;
}

bool MediaClassifier::isVideo(const std::filesystem::path& url) {
    return videoExtensions().count(asciiLowercased(pathExtension(url))) != 0;
}

bool MediaClassifier::isAudio(const std::filesystem::path& url) {
    return audioExtensions().count(asciiLowercased(pathExtension(url))) != 0;
}

bool MediaClassifier::isPhoto(const std::filesystem::path& url) {
    std::string extension = asciiLowercased(pathExtension(url));
    return videoExtensions().count(extension) == 0 && audioExtensions().count(extension) == 0;
}

}  // namespace tessaline
