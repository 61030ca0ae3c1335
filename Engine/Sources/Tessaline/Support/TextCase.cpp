#include "Tessaline/Support/TextCase.hpp"

#include "Tessaline/Support/PathText.hpp"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/unorm.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

namespace tessaline {

std::string asciiLowercased(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string lowercased(std::string_view text) {
    // ASCII text lowers the same either way; skipping ICU makes name keys of a million drive
    // files cheap.
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii || !isValidUtf8(text)) return asciiLowercased(text);
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    u.toLower(icu::Locale::getRoot());
    std::string out;
    u.toUTF8String(out);
    return out;
}

std::string nfcNormalized(std::string_view text) {
    if (!isValidUtf8(text)) return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return std::string(text);
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    icu::UnicodeString normal = nfc->normalize(u, status);
    if (U_FAILURE(status)) return std::string(text);
    std::string out;
    normal.toUTF8String(out);
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (!isValidUtf8(a) || !isValidUtf8(b)) return asciiLowercased(a) == asciiLowercased(b);
    icu::UnicodeString ua = icu::UnicodeString::fromUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())));
    icu::UnicodeString ub = icu::UnicodeString::fromUTF8(icu::StringPiece(b.data(), static_cast<int32_t>(b.size())));
    UErrorCode status = U_ZERO_ERROR;
    int32_t result = unorm_compare(ua.getBuffer(), ua.length(), ub.getBuffer(), ub.length(),
                                   U_COMPARE_IGNORE_CASE | U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status)) return asciiLowercased(a) == asciiLowercased(b);
    return result == 0;
}

std::string trimmedWhitespace(std::string_view text) {
    size_t begin = 0, end = text.size();
    auto codePointAt = [&](size_t i, size_t& next) {
        int32_t offset = static_cast<int32_t>(i);
        UChar32 c;
        U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), offset, static_cast<int32_t>(text.size()), c);
        next = static_cast<size_t>(offset);
        return c;
    };
    while (begin < end) {
        size_t next;
        UChar32 c = codePointAt(begin, next);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        begin = next;
    }
    while (end > begin) {
        // Step back to the start of the last code point.
        size_t start = end - 1;
        while (start > begin && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80) --start;
        size_t next;
        UChar32 c = codePointAt(start, next);
        if (c < 0 || next != end || !u_isUWhiteSpace(c)) break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

}  // namespace tessaline

namespace tessaline {

std::string uppercased(std::string_view text) {
    if (!isValidUtf8(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return out;
    }
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    u.toUpper(icu::Locale::getRoot());
    std::string out;
    u.toUTF8String(out);
    return out;
}

}  // namespace tessaline
