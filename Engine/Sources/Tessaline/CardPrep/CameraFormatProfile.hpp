#pragma once
// A camera maker's folder layout for a freshly erased card, and the fixed table of them that
// the Erase Card section offers. Plain values; the table is built once and is safe to read
// from any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

struct CameraFormatProfile {
    std::string id;                    // stable key of the profile
    std::string displayName;           // shown in the profile picker
    std::vector<std::string> folders;  // relative to the card root, created in this order; empty: erase only
    std::string note;                  // one line of help under the picker

    // Every profile in the picker's order; the first ("sony-alpha") is the default.
    static const std::vector<CameraFormatProfile>& all();
    // The profile whose id equals `id` exactly (case-sensitive); nullopt when none does.
    static std::optional<CameraFormatProfile> profile(std::string_view id);

    friend bool operator==(const CameraFormatProfile&, const CameraFormatProfile&) = default;
};

}  // namespace tessaline
