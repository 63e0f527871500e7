#include "core/cipher.h"

#if defined(__SSE2__) && !defined(KORVANE_PORTABLE)
#include <emmintrin.h>
#define KORVANE_CIPHER_SSE2 1
#endif

namespace korvane {

const CipherKey ExportKey{0x6A4D, 0x3C29, 0xB7E5};

namespace {

// The running word after a byte: s = (plain + low byte of W) mod 256, W' = s * K0 + K1.
inline std::uint16_t next_word(std::uint8_t plain, std::uint16_t word, const CipherKey& key) {
    const auto s = static_cast<std::uint8_t>(plain + (word & 0xFF));
    return static_cast<std::uint16_t>(s * key.K0 + key.K1);
}

std::uint16_t encipher_bytes(const std::uint8_t* source, std::size_t size, std::uint8_t* target,
                             const CipherKey& key, std::uint16_t word) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t plain = source[i];
        target[i] = static_cast<std::uint8_t>(plain ^ (word >> 8));
        word = next_word(plain, word, key);
    }
    return word;
}

// Deciphering feeds back the byte it has just produced, so it stays a plain serial loop; the
// system itself only enciphers.
std::uint16_t decipher_bytes(const std::uint8_t* source, std::size_t size, std::uint8_t* target,
                             const CipherKey& key, std::uint16_t word) {
    for (std::size_t i = 0; i < size; ++i) {
        const auto plain = static_cast<std::uint8_t>(source[i] ^ (word >> 8));
        target[i] = plain;
        word = next_word(plain, word, key);
    }
    return word;
}

#if defined(KORVANE_CIPHER_SSE2)
// Enciphering 16 bytes per step. The byte loop is held back by its serial chain: each running
// word needs the one before. But with a = K0 mod 256 and b = K1 mod 256 the low byte of the
// running word follows an affine recurrence mod 256:
//     s[0] = p[0] + low(W),   s[j] = a * s[j-1] + b + p[j]   (mod 256),
// and W after byte j is s[j] * K0 + K1, whose high byte is the key byte of byte j + 1.
// With t = low(W) - b and c[j] = sum over m <= j of a^(j-m) * (p[m] + b):
//     s[j] = c[j] + a^j * t   (mod 256).
// The c[j] depend only on the plain text and come from a parallel prefix scan in 16-bit lanes
// (only their low 8 bits matter, so products may wrap). The one value that carries from block
// to block is t, advanced by t' = a * s[15] = a^16 * t + a * c[15]: one multiply-add per 16
// bytes instead of one per byte. The key bytes then follow from the s[j] in parallel.
std::uint16_t encipher_blocks(const std::uint8_t* source, std::size_t size, std::uint8_t* target,
                              const CipherKey& key, std::uint16_t word) {
    const std::size_t blocks = size / 16;
    if (blocks == 0) return encipher_bytes(source, size, target, key, word);

    // Powers of a; the 16-bit products wrap, their low bytes are the powers mod 256.
    std::uint16_t power[17];
    power[0] = 1;
    for (int j = 1; j <= 16; ++j)
        power[j] = static_cast<std::uint16_t>(power[j - 1] * (key.K0 & 0xFF));
    auto lanes = [&power](int first) {
        return _mm_setr_epi16(
            static_cast<short>(power[first]), static_cast<short>(power[first + 1]),
            static_cast<short>(power[first + 2]), static_cast<short>(power[first + 3]),
            static_cast<short>(power[first + 4]), static_cast<short>(power[first + 5]),
            static_cast<short>(power[first + 6]), static_cast<short>(power[first + 7]));
    };
    const __m128i pow0to7 = lanes(0);
    const __m128i pow1to8 = lanes(1);
    const __m128i pow8to15 = lanes(8);
    const __m128i a1 = _mm_set1_epi16(static_cast<short>(power[1]));
    const __m128i a2 = _mm_set1_epi16(static_cast<short>(power[2]));
    const __m128i a4 = _mm_set1_epi16(static_cast<short>(power[4]));
    const __m128i b = _mm_set1_epi16(static_cast<short>(key.K1 & 0xFF));
    const __m128i k0 = _mm_set1_epi16(static_cast<short>(key.K0));
    const __m128i k1 = _mm_set1_epi16(static_cast<short>(key.K1));
    const __m128i low_byte = _mm_set1_epi16(0xFF);
    const __m128i zero = _mm_setzero_si128();
    const std::uint32_t a = power[1];
    const std::uint32_t a16 = power[16];

    // Wraps freely; only the low 8 bits are used.
    std::uint32_t t = static_cast<std::uint32_t>(word & 0xFF) - (key.K1 & 0xFFu);
    // High bytes of the running words, the key bytes of the next block shifted by one; the
    // first key byte is the high byte of the running word at the start.
    __m128i prev_high = _mm_slli_si128(_mm_cvtsi32_si128(word >> 8), 15);
    __m128i last_words = zero;
    for (std::size_t block = 0; block < blocks; ++block) {
        const __m128i plain =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + block * 16));
        __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(plain, zero), b);
        __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(plain, zero), b);
        // Prefix scan within each half: after the steps lane j holds c[j] of its half.
        lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_slli_si128(lo, 2), a1));
        hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_slli_si128(hi, 2), a1));
        lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_slli_si128(lo, 4), a2));
        hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_slli_si128(hi, 4), a2));
        lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_slli_si128(lo, 8), a4));
        hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_slli_si128(hi, 8), a4));
        // Upper half: c[8 + j] = c'[j] + a^(j+1) * c[7].
        __m128i c7 = _mm_shufflehi_epi16(lo, 0xFF);
        c7 = _mm_unpackhi_epi64(c7, c7);
        hi = _mm_add_epi16(hi, _mm_mullo_epi16(c7, pow1to8));
        const auto c15 = static_cast<std::uint32_t>(_mm_extract_epi16(hi, 7));

        // s[j] = c[j] + a^j * t, then the running words s[j] * K0 + K1.
        const __m128i tv = _mm_set1_epi16(static_cast<short>(t));
        const __m128i s_lo =
            _mm_and_si128(_mm_add_epi16(lo, _mm_mullo_epi16(tv, pow0to7)), low_byte);
        const __m128i s_hi =
            _mm_and_si128(_mm_add_epi16(hi, _mm_mullo_epi16(tv, pow8to15)), low_byte);
        const __m128i w_lo = _mm_add_epi16(_mm_mullo_epi16(s_lo, k0), k1);
        last_words = _mm_add_epi16(_mm_mullo_epi16(s_hi, k0), k1);
        const __m128i high =
            _mm_packus_epi16(_mm_srli_epi16(w_lo, 8), _mm_srli_epi16(last_words, 8));
        // Byte j is enciphered with the high byte of the running word after byte j - 1.
        const __m128i keys = _mm_or_si128(_mm_slli_si128(high, 1), _mm_srli_si128(prev_high, 15));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + block * 16),
                         _mm_xor_si128(plain, keys));
        prev_high = high;

        t = a16 * t + a * c15;  // the only serial step
    }
    word = static_cast<std::uint16_t>(_mm_extract_epi16(last_words, 7));
    const std::size_t done = blocks * 16;
    return encipher_bytes(source + done, size - done, target + done, key, word);
}
#endif

std::uint16_t encipher_run(const std::uint8_t* source, std::size_t size, std::uint8_t* target,
                           const CipherKey& key, std::uint16_t word) {
#if defined(KORVANE_CIPHER_SSE2)
    return encipher_blocks(source, size, target, key, word);
#else
    return encipher_bytes(source, size, target, key, word);
#endif
}

const std::uint8_t* bytes_of(std::string_view text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

}  // namespace

bool EncipherBuffer(const std::uint8_t* source, std::uint32_t sourceLength, std::uint8_t* target,
                    std::uint32_t targetLength, const CipherKey& key) {
    if (sourceLength != targetLength) return false;
    encipher_run(source, sourceLength, target, key, key.K2);
    return true;
}

bool DecipherBuffer(const std::uint8_t* source, std::uint32_t sourceLength, std::uint8_t* target,
                    std::uint32_t targetLength, const CipherKey& key) {
    if (sourceLength != targetLength) return false;
    decipher_bytes(source, sourceLength, target, key, key.K2);
    return true;
}

std::string CipherString(std::string_view text, const CipherKey& key, bool encipher) {
    // Ciphered directly with the full length: going through the 32-bit lengths of the buffer
    // operations would leave all but the first (size mod 4 GiB) bytes of a huge text unciphered.
    std::string result(text.size(), '\0');
    auto* target = reinterpret_cast<std::uint8_t*>(result.data());
    if (encipher)
        encipher_run(bytes_of(text), text.size(), target, key, key.K2);
    else
        decipher_bytes(bytes_of(text), text.size(), target, key, key.K2);
    return result;
}

std::string EncipherString(std::string_view text, const CipherKey& key) {
    return CipherString(text, key, true);
}

StreamCipher::StreamCipher(const CipherKey& key, bool encipher)
    : key_(key), encipher_(encipher), word_(key.K2) {}

void StreamCipher::Process(const std::uint8_t* source, std::size_t size, std::uint8_t* target) {
    word_ = encipher_ ? encipher_run(source, size, target, key_, word_)
                      : decipher_bytes(source, size, target, key_, word_);
}

void StreamCipher::Process(std::string_view chunk, std::string& out) {
    const std::size_t base = out.size();
    out.resize(base + chunk.size());
    Process(bytes_of(chunk), chunk.size(), reinterpret_cast<std::uint8_t*>(out.data() + base));
}

}  // namespace korvane
