#include "Tessaline/Volumes/UdevDatabase.hpp"

#include "Tessaline/Support/NumberText.hpp"

#include <sys/sysmacros.h>

#include <fstream>

namespace tessaline {

std::string decodeUdevEscapes(const std::string& encoded) {
    std::string out;
    out.reserve(encoded.size());
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '\\' && i + 3 < encoded.size() && encoded[i + 1] == 'x') {
            int high = hexDigitValue(encoded[i + 2]);
            int low = hexDigitValue(encoded[i + 3]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 3;
                continue;
            }
        }
        out.push_back(encoded[i]);
    }
    return out;
}

std::optional<std::string> udevProperty(dev_t device, const std::string& key) {
    std::string file = "/run/udev/data/b" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::ifstream in(file);
    if (!in) return std::nullopt;
    std::string prefix = "E:" + key + "=";
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) != 0) continue;
        std::string value = decodeUdevEscapes(line.substr(prefix.size()));
        if (value.empty()) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

}  // namespace tessaline
