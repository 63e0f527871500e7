#include "core/cipher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// The cipher as a plain byte loop, the form the fast path must agree with.
Bytes reference_encipher(const Bytes& plain, const CipherKey& key) {
    Bytes out;
    std::uint16_t w = key.K2;
    for (std::uint8_t p : plain) {
        out.push_back(static_cast<std::uint8_t>(p ^ (w >> 8)));
        const auto s = static_cast<std::uint8_t>(p + (w & 0xFF));
        w = static_cast<std::uint16_t>(s * key.K0 + key.K1);
    }
    return out;
}

Bytes random_bytes(std::mt19937& rng, std::size_t n) {
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(byte(rng));
    return b;
}

bool operator==(const CipherKey& a, const CipherKey& b) {
    return a.K0 == b.K0 && a.K1 == b.K1 && a.K2 == b.K2;
}

// Keys whose multiplier's low byte is odd, even, a power of two, 0 and 1, since the fast path
// works with powers of that byte.
const std::vector<CipherKey> kKeys = {
    ExportKey,
    {0x0001, 0x0000, 0x0000},
    {0x1200, 0xFFFF, 0xFFFF},
    {0x0180, 0x1234, 0x00FF},
    {0xFFFE, 0x8001, 0x7F80},
    {0x0101, 0x00FF, 0xABCD},
    {0xBEEF, 0xCAFE, 0x1357},
};

TEST(Cipher, ExportKeyIsTheFixedValue) {
    EXPECT_EQ(ExportKey.K0, 0x6A4D);
    EXPECT_EQ(ExportKey.K1, 0x3C29);
    EXPECT_EQ(ExportKey.K2, 0xB7E5);
}

// Worked out by hand with ExportKey, plain text "Tal" = 54 61 6C:
//   W = B7E5: out = 54 ^ B7 = E3; s = (54 + E5) mod 256 = 39; W = 39 * 6A4D + 3C29 = E74E
//   W = E74E: out = 61 ^ E7 = 86; s = (61 + 4E) mod 256 = AF; W = AF * 6A4D + 3C29 = E6CC
//   W = E6CC: out = 6C ^ E6 = 8A
TEST(Cipher, KnownAnswer) {
    EXPECT_EQ(EncipherString("Tal", ExportKey), "\xE3\x86\x8A");
    EXPECT_EQ(CipherString("\xE3\x86\x8A", ExportKey, false), "Tal");
    // A single byte meets only the high byte of K2.
    EXPECT_EQ(EncipherString(std::string_view("\0", 1), ExportKey), "\xB7");
}

TEST(Cipher, RoundTripsEveryByteValueAndLeavesKeyAlone) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    all += all;  // also past the first block boundaries with every value
    for (const CipherKey& key : kKeys) {
        const CipherKey before = key;
        const std::string enciphered = EncipherString(all, key);
        EXPECT_TRUE(key == before);
        EXPECT_EQ(enciphered.size(), all.size());
        EXPECT_EQ(EncipherString(all, key), enciphered);  // deterministic, no state between calls
        EXPECT_EQ(CipherString(enciphered, key, false), all);

        Bytes target(all.size());
        ASSERT_TRUE(DecipherBuffer(reinterpret_cast<const std::uint8_t*>(enciphered.data()),
                                   static_cast<std::uint32_t>(enciphered.size()), target.data(),
                                   static_cast<std::uint32_t>(target.size()), key));
        EXPECT_EQ(target, bytes(all));
    }
}

TEST(Cipher, EmptyInput) {
    EXPECT_TRUE(EncipherBuffer(nullptr, 0, nullptr, 0, ExportKey));
    EXPECT_TRUE(DecipherBuffer(nullptr, 0, nullptr, 0, ExportKey));
    EXPECT_EQ(EncipherString("", ExportKey), "");
    EXPECT_EQ(CipherString("", ExportKey, false), "");
}

TEST(Cipher, DifferentLengthsFailAndLeaveTargetUntouched) {
    const Bytes source = bytes("abcde");
    for (auto op : {&EncipherBuffer, &DecipherBuffer}) {
        for (auto [source_length, target_length] : {std::pair{5u, 4u}, std::pair{4u, 5u}}) {
            Bytes target = bytes("WXYZV");
            EXPECT_FALSE(op(source.data(), source_length, target.data(), target_length, ExportKey));
            EXPECT_EQ(target, bytes("WXYZV"));
        }
    }
}

// The 16-byte fast path and the chunked form against the byte loop: every length up to a few
// blocks, random data, every key, and the stream cut at random places (empty chunks too).
TEST(Cipher, FastPathAndStreamingMatchByteLoop) {
    std::mt19937 rng(77);
    for (const CipherKey& key : kKeys) {
        for (std::size_t n = 0; n < 200; n += (n < 70 ? 1 : 13)) {
            const Bytes plain = random_bytes(rng, n);
            const Bytes expected = reference_encipher(plain, key);

            Bytes target(n);
            ASSERT_TRUE(EncipherBuffer(plain.data(), static_cast<std::uint32_t>(n), target.data(),
                                       static_cast<std::uint32_t>(n), key));
            ASSERT_EQ(target, expected) << "length " << n;

            std::vector<std::size_t> cuts = {0, n};
            for (int k = 0; k < 4; ++k)
                cuts.push_back(std::uniform_int_distribution<std::size_t>(0, n)(rng));
            std::sort(cuts.begin(), cuts.end());
            StreamCipher encipher(key, true);
            StreamCipher decipher(key, false);
            std::string streamed;
            std::string back;
            for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
                const std::string_view piece(reinterpret_cast<const char*>(plain.data()) + cuts[k],
                                             cuts[k + 1] - cuts[k]);
                const std::size_t from = streamed.size();
                encipher.Process(piece, streamed);
                decipher.Process(std::string_view(streamed).substr(from), back);
            }
            ASSERT_EQ(bytes(streamed), expected) << "length " << n;
            ASSERT_EQ(bytes(back), plain) << "length " << n;
        }
    }
}

}  // namespace
}  // namespace korvane
