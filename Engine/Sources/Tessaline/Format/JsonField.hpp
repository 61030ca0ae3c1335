#pragma once
// Lenient readers of fields in util-linux JSON output, which changes between versions:
// lsblk 2.38 writes "rm" as a boolean where older versions wrote "0"/"1", sizes may be
// numbers or numeric strings, and any field may be null. Pure; safe on any thread.

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

// The objects of the top-level array `key` of the JSON text and of every nested "children"
// array, parents before their children, in output order; nullopt when the text is not a
// JSON object holding that array.
std::optional<std::vector<nlohmann::json>> treeItems(std::string_view text, const char* key);
// A string field; nullopt when absent, null or not a string.
std::optional<std::string> textField(const nlohmann::json& object, const char* key);
// A boolean field written as true/false, 0/1 or "0"/"1"; nullopt otherwise.
std::optional<bool> flagField(const nlohmann::json& object, const char* key);
// A non-negative integer field written as a number or a string of digits; nullopt otherwise.
std::optional<int64_t> integerField(const nlohmann::json& object, const char* key);

}  // namespace tessaline
