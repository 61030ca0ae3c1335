#include "Tessaline/Copy/DestinationNameFault.hpp"

#include "Tessaline/Support/FileErrors.hpp"
#include "Tessaline/Support/PathText.hpp"

#include <cerrno>
#include <cstdio>
#include <vector>

namespace tessaline::DestinationNameFault {

namespace {

constexpr std::string_view refusedPrintable = "\"*/:<>?\\|";

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) text += i + 1 == parts.size() ? " and " : ", ";
        text += parts[i];
    }
    return text;
}

}  // namespace

std::string refusedCharacters(std::string_view name) {
    std::vector<std::string> parts;
    std::string seen;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool control = byte < 0x20;
        if ((!control && refusedPrintable.find(c) == std::string_view::npos) || seen.find(c) != std::string::npos)
            continue;
        seen += c;
        if (control) {
            char code[40];
            std::snprintf(code, sizeof code, "the control character U+%04X", byte);
            parts.emplace_back(code);
        } else {
            parts.push_back("\u201C" + std::string(1, c) + "\u201D");
        }
    }
    return joined(parts);
}

std::string reason(std::string_view name, int error) {
    if (error == ENOENT || error == EINVAL || error == EILSEQ) {
        const std::string characters = refusedCharacters(name);
        if (!characters.empty()) {
            const bool several = characters.find(" and ") != std::string::npos;
            return "the destination's file system can't hold the name \u201C" + singleLineText(name) + "\u201D (" +
                   characters + (several ? " aren't" : " isn't") + " allowed in a name there)";
        }
    }
    return errnoText(error);
}

}  // namespace tessaline::DestinationNameFault
