#pragma once
// One way to turn JSON into text: invalid UTF-8 inside strings becomes U+FFFD instead of
// throwing. nlohmann's object keys are sorted; keep insertion order with ordered_json.

#include <nlohmann/json.hpp>
#include <string>

namespace tessaline {

// Pretty-printed with `indent` spaces (or compact when indent is -1), "/" not escaped.
std::string jsonText(const nlohmann::json& value, int indent = 2);
std::string jsonText(const nlohmann::ordered_json& value, int indent = 2);

}  // namespace tessaline
