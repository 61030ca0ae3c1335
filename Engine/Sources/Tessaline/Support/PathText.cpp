#include "Tessaline/Support/PathText.hpp"

#include <cstdint>

namespace tessaline {

namespace fs = std::filesystem;

std::string withoutTrailingSlash(std::string_view path) {
    std::string text(path);
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

std::string lastComponent(const fs::path& path) {
    std::string text = withoutTrailingSlash(path.native());
    if (text == "/") return text;
    auto slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

std::string pathExtension(const fs::path& path) {
    std::string name = lastComponent(path);
    auto dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    return name.substr(dot + 1);
}

std::string stemOf(const fs::path& path) {
    std::string name = lastComponent(path);
    auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

fs::path normalizedPath(const fs::path& path) {
    fs::path absolute = path.is_absolute() ? path : fs::current_path() / path;
    std::string text = absolute.lexically_normal().native();
    // Fold repeated slashes that lexically_normal keeps at the front ("//x").
    std::string folded;
    folded.reserve(text.size());
    for (char c : text) {
        if (c == '/' && !folded.empty() && folded.back() == '/') continue;
        folded.push_back(c);
    }
    return fs::path(withoutTrailingSlash(folded.empty() ? "/" : folded));
}

namespace {

// Length of the well-formed UTF-8 sequence starting at `s[i]`, or 0 when ill-formed.
size_t utf8SequenceLength(std::string_view s, size_t i) {
    auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    uint8_t b0 = byte(i);
    if (b0 < 0x80) return 1;
    size_t need;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    for (size_t k = 1; k <= need; ++k) {
        if (i + k >= s.size()) return 0;
        uint8_t b = byte(i + k);
        uint8_t l = (k == 1) ? lo : 0x80, h = (k == 1) ? hi : 0xBF;
        if (b < l || b > h) return 0;
    }
    return need + 1;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        size_t n = utf8SequenceLength(bytes, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string toDisplayUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        size_t n = utf8SequenceLength(bytes, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string toDisplayUtf8(const fs::path& path) { return toDisplayUtf8(std::string_view(path.native())); }

namespace {

// Length in bytes of the code point at `text[i]` when singleLineText shows it as U+FFFD, else
// 0. `text` is valid UTF-8. Shown so: C0 and C1 controls and DEL (U+0085 is a line break to
// many programs), the line and paragraph separators U+2028 and U+2029, and the bidirectional
// embeddings, overrides and isolates U+202A-U+202E and U+2066-U+2069, which reorder the
// text after them up to the end of the line.
size_t hiddenControlLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    const unsigned c = byte(i);
    if (c < 0x20 || c == 0x7f) return 1;
    if (c == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) return 2;
    if (c == 0xE2 && byte(i + 1) == 0x80 && byte(i + 2) >= 0xA8 && byte(i + 2) <= 0xAE) return 3;
    if (c == 0xE2 && byte(i + 1) == 0x81 && byte(i + 2) >= 0xA6 && byte(i + 2) <= 0xA9) return 3;
    return 0;
}

}  // namespace

std::string singleLineText(std::string_view bytes) {
    const std::string text = toDisplayUtf8(bytes);
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (size_t hidden = hiddenControlLength(text, i)) {
            out += replacement;
            i += hidden;
        } else {
            out += text[i++];
        }
    }
    return out;
}

bool isSameOrBelow(const fs::path& child, const fs::path& folder) {
    return isSameOrBelowNormalized(normalizedPath(child).native(), normalizedPath(folder).native());
}

bool isSameOrBelowNormalized(std::string_view child, std::string_view folder) {
    if (child == folder || folder == "/") return true;
    return child.size() > folder.size() && child.starts_with(folder) && child[folder.size()] == '/';
}

}  // namespace tessaline
