#pragma once
// CSV quoting shared by every CSV the engine writes (verification report, transfer log).
// Pure functions, safe on any thread.

#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

struct CSVField {
    // One field: a leading "'" when it starts with "=", "+", "-", "@", tab or carriage return
    // (so spreadsheets do not evaluate it); then, when it holds a double quote, comma, line
    // feed or carriage return, inner quotes doubled and the whole wrapped in double quotes.
    static std::string escaped(std::string_view field);

    // The escaped fields joined by ",", with no line terminator.
    static std::string row(const std::vector<std::string>& fields);
};

}  // namespace tessaline
