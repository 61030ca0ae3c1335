#include "Tessaline/MetadataReader/MetadataDates.hpp"

namespace tessaline {

namespace {

// Reads exactly `count` ASCII digits at `pos`.
bool digits(std::string_view s, size_t& pos, size_t count, int& out) {
    if (pos + count > s.size()) return false;
    int value = 0;
    for (size_t i = 0; i < count; ++i) {
        char c = s[pos + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    pos += count;
    out = value;
    return true;
}

bool literal(std::string_view s, size_t& pos, char c) {
    if (pos >= s.size() || s[pos] != c) return false;
    ++pos;
    return true;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

// "<date><sep><time>" with the given separators; validated as a non-lenient calendar.
std::optional<EpochSeconds> dateAndTime(std::string_view s, size_t& pos, char dateSep, char middle) {
    int y, mo, d, h, mi, se;
    if (!digits(s, pos, 4, y) || !literal(s, pos, dateSep) || !digits(s, pos, 2, mo) ||
        !literal(s, pos, dateSep) || !digits(s, pos, 2, d) || !literal(s, pos, middle) ||
        !digits(s, pos, 2, h) || !literal(s, pos, ':') || !digits(s, pos, 2, mi) || !literal(s, pos, ':') ||
        !digits(s, pos, 2, se))
        return std::nullopt;
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || se > 59)
        return std::nullopt;
    return epochFromUtc(y, mo, d, h, mi, se);
}

// Milliseconds of a run of digits read as a decimal fraction, truncated.
double fractionOf(std::string_view digitsText) {
    int ms = 0;
    for (size_t i = 0; i < 3; ++i) ms = ms * 10 + (i < digitsText.size() ? digitsText[i] - '0' : 0);
    return ms / 1000.0;
}

bool allDigits(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return !s.empty();
}

std::string_view trimmedSpacesAndNuls(std::string_view s) {
    auto padding = [](char c) { return c == ' ' || c == '\0'; };
    while (!s.empty() && padding(s.front())) s.remove_prefix(1);
    while (!s.empty() && padding(s.back())) s.remove_suffix(1);
    return s;
}

std::optional<EpochSeconds> isoInternetDate(std::string_view s) {
    size_t pos = 0;
    auto base = dateAndTime(s, pos, '-', 'T');
    if (!base) return std::nullopt;
    double fraction = 0;
    if (pos < s.size() && s[pos] == '.') {
        size_t start = ++pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
        size_t count = pos - start;
        if (count < 1 || count > 9) return std::nullopt;
        fraction = fractionOf(s.substr(start, count));
    }
    if (pos >= s.size()) return std::nullopt;  // an internet date-time always has a zone
    int offset = 0;
    if (s[pos] == 'Z') {
        ++pos;
    } else if (s[pos] == '+' || s[pos] == '-') {
        int sign = s[pos] == '-' ? -1 : 1;
        ++pos;
        int oh, om;
        if (!digits(s, pos, 2, oh)) return std::nullopt;
        if (pos < s.size() && s[pos] == ':') ++pos;
        if (!digits(s, pos, 2, om) || oh > 23 || om > 59) return std::nullopt;
        offset = sign * (oh * 3600 + om * 60);
    } else {
        return std::nullopt;
    }
    if (pos != s.size()) return std::nullopt;
    return *base + fraction - offset;
}

}  // namespace

std::optional<EpochSeconds> parseExifDate(std::string_view text, std::optional<std::string_view> subsec) {
    size_t pos = 0;
    auto base = dateAndTime(text, pos, ':', ' ');
    if (!base || pos != text.size()) return std::nullopt;
    if (subsec) {
        std::string_view digitsText = trimmedSpacesAndNuls(*subsec);
        if (allDigits(digitsText)) return *base + fractionOf(digitsText);
    }
    return base;
}

std::optional<EpochSeconds> dateFromMetadataText(std::string_view text) {
    if (auto date = isoInternetDate(text)) return date;
    size_t pos = 0;
    auto date = dateAndTime(text, pos, '-', ' ');
    if (!date || pos != text.size()) return std::nullopt;
    return date;
}

}  // namespace tessaline
