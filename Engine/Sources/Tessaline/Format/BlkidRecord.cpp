#include "Tessaline/Format/BlkidRecord.hpp"

namespace tessaline {

namespace {

std::string unescaped(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        out.push_back(value[i]);
    }
    return out;
}

}  // namespace

BlkidRecord BlkidRecord::fromExport(std::string_view text) {
    BlkidRecord record;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = line.substr(0, eq);
        std::string value = unescaped(line.substr(eq + 1));
        if (key == "TYPE")
            record.type = value;
        else if (key == "UUID")
            record.uuid = value;
        else if (key == "LABEL")
            record.label = value;
        else if (key == "VERSION")
            record.version = value;
    }
    return record;
}

}  // namespace tessaline
