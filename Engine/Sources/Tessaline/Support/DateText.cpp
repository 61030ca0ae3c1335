#include "Tessaline/Support/DateText.hpp"

#include <chrono>
#include <cmath>
#include <ctime>

#include <fmt/format.h>

namespace tessaline {

EpochSeconds nowEpoch() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

namespace {

std::tm brokenDown(EpochSeconds when, bool utc) {
    std::time_t t = static_cast<std::time_t>(std::floor(when));
    std::tm tm{};
    if (utc)
        gmtime_r(&t, &tm);
    else
        localtime_r(&t, &tm);
    return tm;
}

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool readDigits(std::string_view s, size_t& pos, size_t count, int& out) {
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

bool expect(std::string_view s, size_t& pos, char c) {
    if (pos >= s.size() || s[pos] != c) return false;
    ++pos;
    return true;
}

}  // namespace

EpochSeconds epochFromUtc(int year, int month, int day, int hour, int minute, int second) {
    long long days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return static_cast<double>(days * 86400LL + hour * 3600LL + minute * 60LL + second);
}

std::string formatIso8601(EpochSeconds when) {
    std::tm tm = brokenDown(when, true);
    return fmt::format("{:04d}-{:02d}-{:02d}T{:02d}:{:02d}:{:02d}Z", tm.tm_year + 1900, tm.tm_mon + 1,
                       tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

std::optional<EpochSeconds> parseIso8601(std::string_view s) {
    size_t pos = 0;
    int y, mo, d, h, mi, se;
    if (!readDigits(s, pos, 4, y) || !expect(s, pos, '-') || !readDigits(s, pos, 2, mo) ||
        !expect(s, pos, '-') || !readDigits(s, pos, 2, d) || !expect(s, pos, 'T') ||
        !readDigits(s, pos, 2, h) || !expect(s, pos, ':') || !readDigits(s, pos, 2, mi) ||
        !expect(s, pos, ':') || !readDigits(s, pos, 2, se))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 60) return std::nullopt;
    double fraction = 0;
    if (pos < s.size() && s[pos] == '.') {
        ++pos;
        double scale = 0.1;
        size_t start = pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            fraction += (s[pos] - '0') * scale;
            scale /= 10;
            ++pos;
        }
        if (pos == start) return std::nullopt;
    }
    int offsetSeconds = 0;
    if (pos < s.size()) {
        if (s[pos] == 'Z') {
            ++pos;
        } else if (s[pos] == '+' || s[pos] == '-') {
            int sign = s[pos] == '-' ? -1 : 1;
            ++pos;
            int oh, om;
            if (!readDigits(s, pos, 2, oh)) return std::nullopt;
            if (pos < s.size() && s[pos] == ':') ++pos;
            if (!readDigits(s, pos, 2, om)) return std::nullopt;
            offsetSeconds = sign * (oh * 3600 + om * 60);
        } else {
            return std::nullopt;
        }
    }
    if (pos != s.size()) return std::nullopt;
    return epochFromUtc(y, mo, d, h, mi, se) + fraction - offsetSeconds;
}

std::string localDayStamp(EpochSeconds when) {
    std::tm tm = brokenDown(when, false);
    return fmt::format("{:04d}-{:02d}-{:02d}", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::string localTimeStamp(EpochSeconds when) {
    std::tm tm = brokenDown(when, false);
    return fmt::format("{:02d}{:02d}{:02d}", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

std::string localDayTimeStamp(EpochSeconds when) { return localDayStamp(when) + " " + localTimeStamp(when); }

std::string localCompactStamp(EpochSeconds when) {
    std::tm tm = brokenDown(when, false);
    return fmt::format("{:04d}{:02d}{:02d}-{:02d}{:02d}{:02d}", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                       tm.tm_hour, tm.tm_min, tm.tm_sec);
}

std::optional<EpochSeconds> parseIso8601WholeSeconds(std::string_view text) {
    // 20 characters with "Z", 25 with a "+HH:MM" offset; no fraction can fit either shape.
    bool zulu = text.size() == 20 && text[19] == 'Z';
    bool offset = text.size() == 25 && (text[19] == '+' || text[19] == '-') && text[22] == ':';
    if (!zulu && !offset) return std::nullopt;
    return parseIso8601(text);
}

EpochSeconds localStartOfDay(EpochSeconds when) {
    std::tm tm = brokenDown(when, false);
    tm.tm_hour = 0;
    tm.tm_min = 0;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;
    std::time_t start = std::mktime(&tm);
    return start == static_cast<std::time_t>(-1) ? std::floor(when) : static_cast<EpochSeconds>(start);
}

}  // namespace tessaline
