#pragma once
// The file systems a volume can be reformatted to, in the order the reformat form lists them,
// with their texts and the rule that turns a typed name into a valid label for each.
// Plain value; safe on any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

class DriveFormat {
public:
    enum Value { exfat, fat32, apfs, hfsPlus };

    constexpr DriveFormat(Value value) : value_(value) {}  // NOLINT: implicit, like an enum
    constexpr Value value() const { return value_; }

    // exfat, fat32, apfs, hfsPlus, in this order; the form starts on exfat.
    static const std::vector<DriveFormat>& allCases();
    // The format whose id is `id` exactly ("exfat", "fat32", "apfs", "hfsPlus").
    static std::optional<DriveFormat> fromId(std::string_view id);

    std::string id() const;            // the raw value: "exfat", "fat32", "apfs", "hfsPlus"
    std::string diskutilName() const;  // the format's tool name: "ExFAT", "FAT32", "APFS", "JHFS+"
    std::string displayName() const;   // "ExFAT", "FAT32 (MS-DOS)", "APFS", "Mac OS Extended (Journaled)"
    std::string blurb() const;         // one line of help under the picker

    // The label `name` becomes for this format; may be empty. White space is trimmed from
    // both ends; for ExFAT and FAT32 the name is upper-cased (full Unicode mapping), only
    // ASCII letters, digits, space, "_" and "-" are kept, it is cut to 11 characters and
    // spaces are trimmed again. APFS and Mac OS Extended keep the trimmed name as it is.
    std::string normalized(std::string_view name) const;

    friend constexpr bool operator==(DriveFormat a, DriveFormat b) { return a.value_ == b.value_; }

private:
    Value value_;
};

}  // namespace tessaline
