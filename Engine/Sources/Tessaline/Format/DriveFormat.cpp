#include "Tessaline/Format/DriveFormat.hpp"

#include "Tessaline/Support/TextCase.hpp"

namespace tessaline {

const std::vector<DriveFormat>& DriveFormat::allCases() {
    static const std::vector<DriveFormat> cases = {exfat, fat32, apfs, hfsPlus};
    return cases;
}

std::optional<DriveFormat> DriveFormat::fromId(std::string_view id) {
    for (DriveFormat f : allCases())
        if (f.id() == id) return f;
    return std::nullopt;
}

std::string DriveFormat::id() const {
    switch (value_) {
        case exfat: return "exfat";
        case fat32: return "fat32";
        case apfs: return "apfs";
        case hfsPlus: return "hfsPlus";
    }
    return {};
}

std::string DriveFormat::diskutilName() const {
    switch (value_) {
        case exfat: return "ExFAT";
        case fat32: return "FAT32";
        case apfs: return "APFS";
        case hfsPlus: return "JHFS+";
    }
    return {};
}

std::string DriveFormat::displayName() const {
    switch (value_) {
        case exfat: return "ExFAT";
        case fat32: return "FAT32 (MS-DOS)";
        case apfs: return "APFS";
        case hfsPlus: return "Mac OS Extended (Journaled)";
    }
    return {};
}

std::string DriveFormat::blurb() const {
    switch (value_) {
        case exfat: return "Cameras & cross-platform drives \u2014 what most cameras expect on SDXC cards (64 GB+).";
        case fat32:
            return "Older/smaller cards (32 GB and under) and maximum device compatibility. 4 GB per-file limit.";
        case apfs: return "Mac-only SSDs \u2014 editing/backup drives that never leave the Mac ecosystem.";
        case hfsPlus: return "Mac-only spinning drives, or when older Mac software needs it.";
    }
    return {};
}

std::string DriveFormat::normalized(std::string_view name) const {
    std::string trimmed = trimmedWhitespace(name);
    if (value_ == apfs || value_ == hfsPlus) return trimmed;
    // Upper-casing first lets a letter whose capital is plain ASCII ("ß" -> "SS") survive
    // the ASCII filter. Every byte of a multi-byte UTF-8 sequence is >= 0x80 and dropped.
    std::string upper = uppercased(trimmed);
    std::string kept;
    for (char c : upper) {
        bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
                       c == '_' || c == '-';
        if (allowed) kept.push_back(c);
        if (kept.size() == 11) break;
    }
    size_t begin = kept.find_first_not_of(' ');
    if (begin == std::string::npos) return {};
    size_t end = kept.find_last_not_of(' ');
    return kept.substr(begin, end - begin + 1);
}

}  // namespace tessaline
