#pragma once
// A 128-bit identifier (RFC 4122 text form), used where records need a stable identity that
// survives renames, such as sync pairs. Plain value; safe on any thread.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tessaline {

class Uuid {
public:
    Uuid() = default;  // all zero
    explicit Uuid(const std::array<uint8_t, 16>& bytes) : bytes_(bytes) {}

    // A new random (version 4) identifier from the kernel's random source.
    static Uuid random();
    // Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" in either letter case; nullopt otherwise.
    static std::optional<Uuid> parse(std::string_view text);

    // Upper-case 8-4-4-4-12 text.
    std::string text() const;
    const std::array<uint8_t, 16>& bytes() const { return bytes_; }

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<uint8_t, 16> bytes_{};
};

}  // namespace tessaline

template <>
struct std::hash<tessaline::Uuid> {
    size_t operator()(const tessaline::Uuid& id) const noexcept;
};
