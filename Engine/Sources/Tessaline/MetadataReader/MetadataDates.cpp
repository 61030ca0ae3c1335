#include "Tessaline/MetadataReader/MetadataDates.hpp"

namespace tessaline {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "YYYY?MM?DD?HH:MM:SS" at the start of `s`, with the given date and middle separators, as
// UTC. The calendar is checked strictly by formatting the result back: 31 April, 29
// February of a common year or second 60 would roll over and so differ from the text.
std::optional<EpochSeconds> dateAndTime(std::string_view s, char dateSep, char middle) {
    if (s.size() < 19 || s[4] != dateSep || s[7] != dateSep || s[10] != middle || s[13] != ':' || s[16] != ':')
        return std::nullopt;
    std::string iso(s.substr(0, 19));
    iso[4] = iso[7] = '-';
    iso[10] = 'T';
    iso += 'Z';
    if (iso.starts_with("0000")) return std::nullopt;  // year 0 only appears in blanked dates
    auto when = parseIso8601(iso);
    if (!when || formatIso8601(*when) != iso) return std::nullopt;
    return when;
}

// Milliseconds of a run of digits read as a decimal fraction, truncated.
double fractionOf(std::string_view digitsText) {
    int ms = 0;
    for (size_t i = 0; i < 3; ++i) ms = ms * 10 + (i < digitsText.size() ? digitsText[i] - '0' : 0);
    return ms / 1000.0;
}

bool allDigits(std::string_view s) {
    for (char c : s)
        if (!isDigit(c)) return false;
    return !s.empty();
}

std::string_view trimmedSpacesAndNuls(std::string_view s) {
    auto padding = [](char c) { return c == ' ' || c == '\0'; };
    while (!s.empty() && padding(s.front())) s.remove_prefix(1);
    while (!s.empty() && padding(s.back())) s.remove_suffix(1);
    return s;
}

std::optional<EpochSeconds> isoInternetDate(std::string_view s) {
    auto base = dateAndTime(s, '-', 'T');
    if (!base) return std::nullopt;
    size_t pos = 19;
    double fraction = 0;
    if (pos < s.size() && s[pos] == '.') {
        size_t start = ++pos;
        while (pos < s.size() && isDigit(s[pos])) ++pos;
        size_t count = pos - start;
        if (count < 1 || count > 9) return std::nullopt;
        fraction = fractionOf(s.substr(start, count));
    }
    std::string_view zone = s.substr(pos);
    if (zone == "Z") return *base + fraction;
    // "+HH:MM" or "+HHMM"; an internet date-time always has a zone.
    if (zone.size() != 6 && zone.size() != 5) return std::nullopt;
    if (zone.size() == 6 && zone[3] != ':') return std::nullopt;
    std::string_view minutes = zone.substr(zone.size() - 2);
    if ((zone[0] != '+' && zone[0] != '-') || !allDigits(zone.substr(1, 2)) || !allDigits(minutes))
        return std::nullopt;
    int hours = (zone[1] - '0') * 10 + (zone[2] - '0');
    int mins = (minutes[0] - '0') * 10 + (minutes[1] - '0');
    if (hours > 23 || mins > 59) return std::nullopt;
    int offset = (zone[0] == '-' ? -1 : 1) * (hours * 3600 + mins * 60);
    return *base + fraction - offset;
}

}  // namespace

std::optional<EpochSeconds> parseExifDate(std::string_view text, std::optional<std::string_view> subsec) {
    if (text.size() != 19) return std::nullopt;
    auto base = dateAndTime(text, ':', ' ');
    if (!base) return std::nullopt;
    if (subsec) {
        std::string_view digitsText = trimmedSpacesAndNuls(*subsec);
        if (allDigits(digitsText)) return *base + fractionOf(digitsText);
    }
    return base;
}

std::optional<EpochSeconds> dateFromMetadataText(std::string_view text) {
    if (auto date = isoInternetDate(text)) return date;
    if (text.size() != 19) return std::nullopt;
    return dateAndTime(text, '-', ' ');
}

}  // namespace tessaline
