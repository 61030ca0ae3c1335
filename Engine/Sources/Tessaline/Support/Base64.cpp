#include "Tessaline/Support/Base64.hpp"

#include <cstdint>

namespace tessaline {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string base64Encoded(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t v = (uint32_t(uint8_t(bytes[i])) << 16) | (uint32_t(uint8_t(bytes[i + 1])) << 8) | uint8_t(bytes[i + 2]);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        if (rest == 2) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> base64Decoded(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int a = sextet(text[i]), b = sextet(text[i + 1]);
        if (a < 0 || b < 0) return std::nullopt;
        uint32_t v = (uint32_t(a) << 18) | (uint32_t(b) << 12);
        if (last && text[i + 2] == '=') {
            if (text[i + 3] != '=') return std::nullopt;
            out += char((v >> 16) & 0xFF);
            break;
        }
        int c = sextet(text[i + 2]);
        if (c < 0) return std::nullopt;
        v |= uint32_t(c) << 6;
        if (last && text[i + 3] == '=') {
            out += char((v >> 16) & 0xFF);
            out += char((v >> 8) & 0xFF);
            break;
        }
        int d = sextet(text[i + 3]);
        if (d < 0) return std::nullopt;
        v |= uint32_t(d);
        out += char((v >> 16) & 0xFF);
        out += char((v >> 8) & 0xFF);
        out += char(v & 0xFF);
    }
    return out;
}

}  // namespace tessaline
