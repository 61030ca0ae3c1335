#include "Support/LitterFiles.hpp"

#include "Support/TestSandbox.hpp"

#include <algorithm>
#include <cctype>

namespace tessaline::testing {

std::string litterBytes(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.rfind("._", 0) == 0) {
        // AppleDouble header: magic, version 2, filler, one entry (the Finder info).
        std::string bytes("\x00\x05\x16\x07\x00\x02\x00\x00", 8);
        bytes += std::string(16, ' ');
        bytes += std::string("\x00\x01\x00\x00\x00\x09\x00\x00\x00\x32\x00\x00\x00\x20", 14);
        bytes += std::string(32, '\0');
        return bytes;
    }
    if (lower == ".ds_store") {
        std::string bytes("\x00\x00\x00\x01" "Bud1\x00\x00\x10\x00\x00\x00\x08\x00", 16);
        return bytes + std::string(4096 - bytes.size(), '\0');
    }
    if (lower == "thumbs.db") {
        std::string bytes("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
        bytes += std::string(16, '\0');
        bytes += std::string("\x3E\x00\x03\x00\xFE\xFF\x09\x00", 8);
        return bytes + std::string(512 - bytes.size(), '\0');
    }
    if (lower == "desktop.ini")
        return "[.ShellClassInfo]\r\nIconResource=C:\\Windows\\System32\\imageres.dll,-3\r\n"
               "; made by the file manager\r\n\r\n[ViewState]\r\nMode=\r\nVid=\r\nFolderType=Pictures\r\n";
    return {};
}

void writeLitter(const std::filesystem::path& path) { writeFile(path, litterBytes(path.filename().string())); }

}  // namespace tessaline::testing
