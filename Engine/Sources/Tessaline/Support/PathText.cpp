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

std::string singleLineText(std::string_view bytes) {
    const std::string text = toDisplayUtf8(bytes);
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) {
            out += replacement;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
            out += replacement;
            i += 1;
        } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            out += replacement;
            i += 2;
        } else {
            out += text[i];
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
