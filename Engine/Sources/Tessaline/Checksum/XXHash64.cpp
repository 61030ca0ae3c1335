#include "Tessaline/Checksum/XXHash64.hpp"

#include <bit>
#include <cstring>

namespace tessaline {

namespace {

constexpr uint64_t P1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t P2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t P3 = 0x165667B19E3779F9ull;
constexpr uint64_t P4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t P5 = 0x27D4EB2F165667C5ull;

inline uint64_t rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// Multi-byte words are little-endian in the algorithm; memcpy keeps unaligned loads legal.
inline uint64_t read64(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

inline uint32_t read32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

inline uint64_t round(uint64_t acc, uint64_t input) {
    acc += input * P2;
    acc = rotl(acc, 31);
    return acc * P1;
}

inline uint64_t mergeRound(uint64_t acc, uint64_t val) {
    acc ^= round(0, val);
    return acc * P1 + P4;
}

// Consumes whole 32-byte stripes; returns the number of bytes consumed.
inline size_t consumeStripes(uint64_t& v1, uint64_t& v2, uint64_t& v3, uint64_t& v4, const unsigned char* p,
                             size_t length) {
    // Lanes in locals so the compiler keeps them in registers across the loop.
    uint64_t a = v1, b = v2, c = v3, d = v4;
    size_t done = 0;
    while (length - done >= 32) {
        a = round(a, read64(p + done));
        b = round(b, read64(p + done + 8));
        c = round(c, read64(p + done + 16));
        d = round(d, read64(p + done + 24));
        done += 32;
    }
    v1 = a, v2 = b, v3 = c, v4 = d;
    return done;
}

uint64_t finish(uint64_t h, const unsigned char* p, size_t length) {
    while (length >= 8) {
        h ^= round(0, read64(p));
        h = rotl(h, 27) * P1 + P4;
        p += 8;
        length -= 8;
    }
    if (length >= 4) {
        h ^= static_cast<uint64_t>(read32(p)) * P1;
        h = rotl(h, 23) * P2 + P3;
        p += 4;
        length -= 4;
    }
    while (length > 0) {
        h ^= static_cast<uint64_t>(*p) * P5;
        h = rotl(h, 11) * P1;
        ++p;
        --length;
    }
    h ^= h >> 33;
    h *= P2;
    h ^= h >> 29;
    h *= P3;
    h ^= h >> 32;
    return h;
}

uint64_t mergeLanes(uint64_t v1, uint64_t v2, uint64_t v3, uint64_t v4) {
    uint64_t h = rotl(v1, 1) + rotl(v2, 7) + rotl(v3, 12) + rotl(v4, 18);
    h = mergeRound(h, v1);
    h = mergeRound(h, v2);
    h = mergeRound(h, v3);
    h = mergeRound(h, v4);
    return h;
}

}  // namespace

XXHash64::Stream::Stream(uint64_t seed)
    : v1_(seed + P1 + P2), v2_(seed + P2), v3_(seed), v4_(seed - P1), seed_(seed) {}

void XXHash64::Stream::update(const void* data, size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    totalLen_ += length;
    if (bufferSize_ > 0) {
        size_t take = 32 - bufferSize_;
        if (length < take) {
            std::memcpy(buffer_.data() + bufferSize_, p, length);
            bufferSize_ += length;
            return;
        }
        std::memcpy(buffer_.data() + bufferSize_, p, take);
        consumeStripes(v1_, v2_, v3_, v4_, buffer_.data(), 32);
        bufferSize_ = 0;
        p += take;
        length -= take;
    }
    size_t done = consumeStripes(v1_, v2_, v3_, v4_, p, length);
    if (length > done) {
        std::memcpy(buffer_.data(), p + done, length - done);
        bufferSize_ = length - done;
    }
}

uint64_t XXHash64::Stream::finalize() const {
    uint64_t h = totalLen_ >= 32 ? mergeLanes(v1_, v2_, v3_, v4_) : seed_ + P5;
    h += totalLen_;
    return finish(h, buffer_.data(), bufferSize_);
}

std::string XXHash64::Stream::finalizeHex() const { return hex(finalize()); }

uint64_t XXHash64::hash(const void* bytes, size_t length, uint64_t seed) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    uint64_t h;
    size_t done = 0;
    if (length >= 32) {
        uint64_t v1 = seed + P1 + P2, v2 = seed + P2, v3 = seed, v4 = seed - P1;
        done = consumeStripes(v1, v2, v3, v4, p, length);
        h = mergeLanes(v1, v2, v3, v4);
    } else {
        h = seed + P5;
    }
    h += static_cast<uint64_t>(length);
    return finish(h, p + done, length - done);
}

std::string XXHash64::hex(uint64_t digest) {
    static const char digits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i) {
        text[static_cast<size_t>(i)] = digits[digest & 0xF];
        digest >>= 4;
    }
    return text;
}

}  // namespace tessaline
