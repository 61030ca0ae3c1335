#include "Tessaline/Support/NumberText.hpp"

#include <charconv>
#include <cmath>

namespace tessaline {

std::string fixedText(double value, int decimals) {
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return "0";
    return std::string(buffer, result.ptr);
}

std::string groupedText(int64_t value) {
    const std::string digits = std::to_string(value);
    const size_t sign = value < 0 ? 1 : 0;
    std::string text = digits.substr(0, sign);
    for (size_t k = sign; k < digits.size(); ++k) {
        if (k > sign && (digits.size() - k) % 3 == 0) text.push_back(',');
        text.push_back(digits[k]);
    }
    return text;
}

std::string formatFileSize(int64_t bytes) {
    if (bytes == 0) return "Zero KB";
    if (bytes == 1) return "1 byte";
    if (bytes > -1000 && bytes < 1000) return std::to_string(bytes) + " bytes";
    static const char* units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000.0;
    int unit = 0;
    while (std::fabs(value) >= 999.5 && unit < 5) {
        value /= 1000.0;
        ++unit;
    }
    int decimals = unit == 0 ? 0 : (unit == 1 ? 1 : 2);
    std::string text = fixedText(value, decimals);
    // Rounding may carry into the next unit ("1000 KB" becomes "1 MB").
    double shown = 0;
    std::from_chars(text.data(), text.data() + text.size(), shown);
    if (unit < 5 && std::fabs(shown) >= 1000.0) {
        value /= 1000.0;
        ++unit;
        decimals = unit == 1 ? 1 : 2;
        text = fixedText(value, decimals);
    }
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    return text + " " + units[unit];
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace tessaline
