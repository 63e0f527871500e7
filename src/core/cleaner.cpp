#include "core/cleaner.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(KORVANE_PORTABLE)
#include <emmintrin.h>
#define KORVANE_CLEANER_SSE2 1
#endif

namespace korvane {
namespace {

// The reference that XML forbids; it has no proper prefix that is also a suffix, so after a
// mismatch a new match can only start at the mismatching byte itself.
constexpr char kRef[] = "&#4;";
constexpr std::size_t kRefLength = 4;

// XML 1.0 allows tab, line feed, carriage return and everything from 32 up; bytes from 127 to
// 255 are code-page text and pass untouched.
constexpr bool is_dropped(unsigned char c) { return c < 32 && c != 9 && c != 10 && c != 13; }

// How far a block scan got: bytes read from the input and bytes written to the output.
struct Progress {
    std::size_t read;
    std::size_t written;
};

// Cleans whole blocks from the start of in[0, n) into out as long as no '&' appears, since only
// a '&' can start a reference; stops at a '&' (or, in the portable form, at any byte that needs
// a look) and leaves it and any tail shorter than a block to the byte loop. A block is stored
// whole before it is examined, which is safe because the caller's output has room for every
// input byte still to come.
#if defined(KORVANE_CLEANER_SSE2)
Progress clean_blocks(const char* in, std::size_t n, char* out) {
    const __m128i high3 = _mm_set1_epi8(static_cast<char>(0xE0));
    const __m128i zero = _mm_setzero_si128();
    const __m128i tab = _mm_set1_epi8(9);
    const __m128i lf = _mm_set1_epi8(10);
    const __m128i cr = _mm_set1_epi8(13);
    const __m128i amp = _mm_set1_epi8('&');
    std::size_t i = 0;
    std::size_t o = 0;
    while (i + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), v);
        // A byte below 32 has its top three bits clear.
        const __m128i control = _mm_cmpeq_epi8(_mm_and_si128(v, high3), zero);
        const __m128i allowed = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lf)), _mm_cmpeq_epi8(v, cr));
        const auto dropped =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(allowed, control)));
        const auto amps = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, amp)));
        if ((dropped | amps) == 0) {  // the common case: an ordinary block, already copied
            i += 16;
            o += 16;
            continue;
        }
        const unsigned take = amps != 0 ? static_cast<unsigned>(std::countr_zero(amps)) : 16;
        if ((dropped & ((1u << take) - 1)) == 0) {
            o += take;
        } else {
            // Text full of control bytes: write every byte but advance only past kept ones, so
            // that no branch depends on each byte.
            for (unsigned j = 0; j < take; ++j) {
                out[o] = in[i + j];
                o += ((dropped >> j) & 1u) ^ 1u;
            }
        }
        i += take;
        if (take < 16) break;
    }
    return {i, o};
}
#else
// Eight bytes at a time in a 64-bit word. The classic "has a byte less than" test flags the
// lowest such byte exactly (a borrow only spreads upwards), so the run ends at the lowest flag.
// Tab, line feed and carriage return are flagged too and then kept by the byte loop.
Progress clean_blocks(const char* in, std::size_t n, char* out) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    std::size_t i = 0;
    while (i + 8 <= n) {
        std::uint64_t x;
        std::memcpy(&x, in + i, 8);
        std::memcpy(out + i, &x, 8);
        const std::uint64_t amp = x ^ (ones * '&');
        const std::uint64_t flags = ((x - ones * 32) & ~x & highs) | ((amp - ones) & ~amp & highs);
        if (flags != 0) {
            if constexpr (std::endian::native == std::endian::little) {
                i += static_cast<std::size_t>(std::countr_zero(flags)) / 8;
            }
            break;
        }
        i += 8;
    }
    return {i, i};
}
#endif

// Cleans in[0, n) into out starting at position o. `matched` is how many bytes of kRef end the
// kept text so far; they are already written (written eagerly, taken back on a full match).
// Returns the new output position. out must have room for o + n bytes.
std::size_t clean_into(const char* in, std::size_t n, char* out, std::size_t o,
                       std::size_t& matched) {
    std::size_t i = 0;
    std::size_t m = matched;
    while (i < n) {
        if (m == 0) {
            // Whole blocks at once while no reference can start; the byte loop takes the rest.
            const Progress done = clean_blocks(in + i, n - i, out + o);
            i += done.read;
            o += done.written;
            if (i == n) break;
        }
        const auto c = static_cast<unsigned char>(in[i++]);
        if (is_dropped(c)) continue;  // dropped before the search: it cannot break a match
        out[o++] = static_cast<char>(c);
        if (c == static_cast<unsigned char>(kRef[m])) {
            if (++m == kRefLength) {
                o -= kRefLength;  // remove the reference; what it joins is not searched again
                m = 0;
            }
        } else {
            m = (c == '&') ? 1 : 0;
        }
    }
    matched = m;
    return o;
}

}  // namespace

std::size_t strip_invalid_xml_to(std::string_view text, char* out) {
    std::size_t matched = 0;
    return clean_into(text.data(), text.size(), out, 0, matched);
}

std::string strip_invalid_xml(std::string_view text) {
    if (text.empty()) return {};
    // One allocation of the input's length, cut to what was kept.
    std::string result(text.size(), ' ');
    result.resize(strip_invalid_xml_to(text, result.data()));
    return result;
}

void StreamingCleaner::Feed(std::string_view chunk, std::string& out) {
    if (chunk.empty()) return;
    const std::size_t base = out.size();
    out.resize(base + held_ + chunk.size());
    char* dst = out.data() + base;
    // The held-back start of a possible reference goes out first, as if never cut off.
    std::memcpy(dst, kRef, held_);
    std::size_t matched = held_;
    std::size_t o = clean_into(chunk.data(), chunk.size(), dst, held_, matched);
    // Hold back a possible start of a reference: the next chunk may complete and remove it.
    held_ = matched;
    o -= matched;
    out.resize(base + o);
}

void StreamingCleaner::Finish(std::string& out) {
    out.append(kRef, held_);
    held_ = 0;
}

}  // namespace korvane
