#include "Tessaline/Checksum/XXHash64.hpp"

#include <gtest/gtest.h>
#include <xxhash.h>

#include <random>
#include <string>
#include <vector>

using tessaline::XXHash64;

namespace {

std::string hexOf(const std::string& text) { return XXHash64::hex(XXHash64::hash(text.data(), text.size(), 0)); }

}  // namespace

TEST(XXHash64, PublishedVectors) {
    EXPECT_EQ(hexOf(""), "ef46db3751d8e999");
    EXPECT_EQ(hexOf("a"), "d24ec4f1a98c6e5b");
    EXPECT_EQ(hexOf("abc"), "44bc2cf5ad770999");
    EXPECT_EQ(hexOf("Nobody inspects the spammish repetition"), "fbcea83c8a378bf1");
    // A digest whose top bits are zero keeps its leading zeros.
    EXPECT_EQ(hexOf("363"), "005cff848095736d");
    std::string thousand(1000, '\0');
    for (int i = 0; i < 1000; ++i) thousand[static_cast<size_t>(i)] = static_cast<char>((i * 31 + 7) & 0xff);
    EXPECT_EQ(hexOf(thousand), "99594f4828043d35");
}

TEST(XXHash64, EqualsLibxxhashForEveryLengthAndAlignment) {
    std::vector<unsigned char> data(4200 + 8);
    std::mt19937 generator(42);
    for (auto& b : data) b = static_cast<unsigned char>(generator());
    for (size_t offset : {0u, 1u, 3u, 7u}) {
        for (size_t length = 0; length <= 4200; ++length) {
            const unsigned char* p = data.data() + offset;
            uint64_t expected = XXH64(p, length, 0);
            ASSERT_EQ(XXHash64::hash(p, length, 0), expected) << "length " << length << " offset " << offset;
            XXHash64::Stream stream;
            stream.update(p, length);
            ASSERT_EQ(stream.finalize(), expected) << "streamed whole, length " << length;
        }
    }
}

TEST(XXHash64, StreamingInAnySplitsGivesTheWholeDigest) {
    std::vector<unsigned char> data(100000);
    std::mt19937 generator(7);
    for (auto& b : data) b = static_cast<unsigned char>(generator());
    const uint64_t expected = XXH64(data.data(), data.size(), 0);
    for (size_t step : {1u, 31u, 32u, 33u, 100u, 4096u}) {
        XXHash64::Stream stream;
        for (size_t i = 0; i < data.size(); i += step) stream.update(data.data() + i, std::min(step, data.size() - i));
        EXPECT_EQ(stream.finalize(), expected) << "step " << step;
    }
    for (int round = 0; round < 20; ++round) {
        XXHash64::Stream stream;
        size_t i = 0;
        while (i < data.size()) {
            size_t n = std::min<size_t>(generator() % 200, data.size() - i);
            stream.update(data.data() + i, n);
            i += n;
        }
        ASSERT_EQ(stream.finalize(), expected) << "random splits, round " << round;
    }
}

TEST(XXHash64, FinalizeLeavesTheStateUsable) {
    XXHash64::Stream stream;
    stream.update("abc", 3);
    EXPECT_EQ(stream.finalizeHex(), "44bc2cf5ad770999");
    EXPECT_EQ(stream.finalizeHex(), "44bc2cf5ad770999");
    stream.update("def", 3);
    EXPECT_EQ(stream.finalize(), XXH64("abcdef", 6, 0));
    XXHash64::Stream seeded(12345);
    seeded.update("abcdef", 6);
    EXPECT_EQ(seeded.finalize(), XXH64("abcdef", 6, 12345));
}
