#pragma once
// XXH64, the 64-bit variant of the published xxHash algorithm. Every claim that a file is
// backed up rests on this digest; seed 0 throughout the program. Plain values, no shared
// state: safe on any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tessaline {

struct XXHash64 {
    // Streaming state. Feeding data in chunks of any sizes gives the digest of the whole.
    class Stream {
    public:
        explicit Stream(uint64_t seed = 0);
        void update(const void* data, size_t length);
        void update(std::span<const std::byte> block) { update(block.data(), block.size()); }
        // The digest of everything fed so far; the state is not changed.
        uint64_t finalize() const;
        // finalize() as 16 lowercase hexadecimal digits ("%016llx").
        std::string finalizeHex() const;
        uint64_t totalLength() const { return totalLen_; }

    private:
        uint64_t v1_, v2_, v3_, v4_;
        std::array<unsigned char, 32> buffer_{};
        size_t bufferSize_ = 0;
        uint64_t totalLen_ = 0;
        uint64_t seed_;
    };

    // One-shot digest of a raw byte range with the given seed.
    static uint64_t hash(const void* bytes, size_t length, uint64_t seed);
    // One-shot digest with seed 0.
    static uint64_t digest(std::span<const std::byte> bytes) { return hash(bytes.data(), bytes.size(), 0); }
    // "%016llx" of a digest.
    static std::string hex(uint64_t digest);
};

}  // namespace tessaline
