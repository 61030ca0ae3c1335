#include "Tessaline/Support/CountText.hpp"

namespace tessaline {

std::string_view nounFor(int64_t count, std::string_view singular, std::string_view plural) {
    return count == 1 ? singular : plural;
}

std::string countText(int64_t count, std::string_view singular, std::string_view plural) {
    return std::to_string(count) + " " + std::string(nounFor(count, singular, plural));
}

std::string allOf(int64_t count, std::string_view singular, std::string_view plural) {
    return (count == 1 ? "The " : "All ") + countText(count, singular, plural);
}

std::string partOf(int64_t part, int64_t total, std::string_view singular, std::string_view plural) {
    return std::to_string(part) + " of " + countText(total, singular, plural);
}

std::string clipsAndFiles(int64_t clips, int64_t files) {
    std::string text = countText(clips, "clip", "clips");
    if (files > clips) text += " (" + countText(files, "file", "files") + ")";
    return text;
}

}  // namespace tessaline
