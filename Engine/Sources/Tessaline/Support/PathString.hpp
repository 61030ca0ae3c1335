#pragma once
// A file's path held as its raw bytes in one std::string, for the places where millions of
// paths live at once (folder walks, fingerprints). Measured reason: libstdc++'s
// std::filesystem::path keeps, beside its string, a heap array of 48-byte components, about
// 560 bytes for a 12-component path against under 100 for the same bytes in a string.
// Converts to std::filesystem::path where a caller needs one (a temporary each time, so hot
// loops read native() instead). Compares byte-wise, the order every path list is sorted in.

#include <compare>
#include <concepts>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace tessaline {

class PathString {
public:
    PathString() = default;
    PathString(const std::filesystem::path& path) : text_(path.native()) {}
    PathString(std::string text) noexcept : text_(std::move(text)) {}
    PathString(const char* text) : text_(text) {}

    const std::string& native() const noexcept { return text_; }
    const std::string& string() const noexcept { return text_; }
    const char* c_str() const noexcept { return text_.c_str(); }
    bool empty() const noexcept { return text_.empty(); }

    std::filesystem::path path() const { return text_; }
    operator std::filesystem::path() const { return text_; }
    // As std::filesystem::path::filename() gives it.
    std::filesystem::path filename() const { return path().filename(); }

    bool operator==(const PathString&) const = default;
    std::strong_ordering operator<=>(const PathString&) const = default;
    // The same bytes (std::filesystem::path compares component-wise, which would parse).
    friend bool operator==(const PathString& a, const std::filesystem::path& b) { return a.text_ == b.native(); }
    template <class Text>
        requires std::convertible_to<const Text&, std::string_view> && (!std::same_as<Text, PathString>)
    friend bool operator==(const PathString& a, const Text& b) {
        return std::string_view(a.text_) == std::string_view(b);
    }

    // The bytes as they are (for test output and logs).
    friend std::ostream& operator<<(std::ostream& out, const PathString& path) { return out << path.text_; }

private:
    std::string text_;
};

}  // namespace tessaline
