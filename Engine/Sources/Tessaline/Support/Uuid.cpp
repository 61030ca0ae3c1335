#include "Tessaline/Support/NumberText.hpp"
#include "Tessaline/Support/Uuid.hpp"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/random.h>

namespace tessaline {

namespace {

bool isHyphenPosition(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

}  // namespace

Uuid Uuid::random() {
    std::array<uint8_t, 16> bytes{};
    size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("Couldn't make a new identifier: no random source.");
        }
        filled += static_cast<size_t>(got);
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::array<uint8_t, 16> bytes{};
    size_t out = 0;
    for (size_t i = 0; i < text.size();) {
        if (isHyphenPosition(i)) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int high = hexDigitValue(text[i]);
        int low = i + 1 < text.size() && !isHyphenPosition(i + 1) ? hexDigitValue(text[i + 1]) : -1;
        if (high < 0 || low < 0) return std::nullopt;
        bytes[out++] = static_cast<uint8_t>(high * 16 + low);
        i += 2;
    }
    return Uuid(bytes);
}

std::string Uuid::text() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(digits[bytes_[i] >> 4]);
        text.push_back(digits[bytes_[i] & 0x0F]);
    }
    return text;
}

}  // namespace tessaline

size_t std::hash<tessaline::Uuid>::operator()(const tessaline::Uuid& id) const noexcept {
    uint64_t a = 0;
    uint64_t b = 0;
    std::memcpy(&a, id.bytes().data(), 8);
    std::memcpy(&b, id.bytes().data() + 8, 8);
    return std::hash<uint64_t>{}(a ^ (b * 0x9E3779B97F4A7C15ULL));
}
