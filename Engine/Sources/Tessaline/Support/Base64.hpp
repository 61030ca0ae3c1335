#pragma once
// Base64 in the standard alphabet of RFC 4648, with padding. Pure functions, any thread.

#include <optional>
#include <string>
#include <string_view>

namespace tessaline {

std::string base64Encoded(std::string_view bytes);

// The bytes, or nullopt when `text` is not padded standard base64 (whitespace is not allowed).
std::optional<std::string> base64Decoded(std::string_view text);

}  // namespace tessaline
