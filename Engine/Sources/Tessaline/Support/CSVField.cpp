#include "Tessaline/Support/CSVField.hpp"

namespace tessaline {

std::string CSVField::escaped(std::string_view field) {
    std::string text;
    if (!field.empty()) {
        char first = field.front();
        if (first == '=' || first == '+' || first == '-' || first == '@' || first == '\t' || first == '\r')
            text.push_back('\'');
    }
    text.append(field);
    if (text.find_first_of("\",\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted.push_back('"');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

std::string CSVField::row(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) line.push_back(',');
        line += escaped(fields[i]);
    }
    return line;
}

}  // namespace tessaline
