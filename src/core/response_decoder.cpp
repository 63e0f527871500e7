#include "core/response_decoder.h"

#include "core/windows1252.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

namespace korvane {
namespace {

// The Windows-1252 byte of each code point below kTableSize; 0 = not held. The highest
// character the code page holds is U+2122.
constexpr char32_t kTableSize = 0x2200;

const std::array<unsigned char, kTableSize>& Windows1252Table() {
    static const std::array<unsigned char, kTableSize> table = [] {
        std::array<unsigned char, kTableSize> t{};
        for (unsigned b = 0x80; b <= 0xFF; ++b) {
            t[Windows1252ToUnicode(static_cast<unsigned char>(b))] = static_cast<unsigned char>(b);
        }
        return t;
    }();
    return table;
}

std::uint64_t Mask(const std::array<unsigned char, 8>& bytes) {
    std::uint64_t m;
    std::memcpy(&m, bytes.data(), 8);
    return m;
}
// Eight bytes that are all ASCII; four UTF-16 units that are all ASCII, in either byte order.
const std::uint64_t kAsciiMask8 = Mask({0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80});
const std::uint64_t kAsciiMaskLE = Mask({0x80, 0xFF, 0x80, 0xFF, 0x80, 0xFF, 0x80, 0xFF});
const std::uint64_t kAsciiMaskBE = Mask({0xFF, 0x80, 0xFF, 0x80, 0xFF, 0x80, 0xFF, 0x80});

std::uint64_t Load8(const unsigned char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// Length of the UTF-8 sequence a lead byte opens; 0 when the byte cannot open one.
int SequenceLength(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF) return 2;
    if (b >= 0xE0 && b <= 0xEF) return 3;
    if (b >= 0xF0 && b <= 0xF4) return 4;
    return 0;
}

// Whether b may stand at position index (1..3) of the sequence opened by lead. The narrower
// ranges after E0, ED, F0 and F4 rule out overlong forms, surrogates and code points above
// U+10FFFF.
bool IsContinuation(unsigned char lead, int index, unsigned char b) {
    if (index == 1) {
        switch (lead) {
            case 0xE0: return b >= 0xA0 && b <= 0xBF;
            case 0xED: return b >= 0x80 && b <= 0x9F;
            case 0xF0: return b >= 0x90 && b <= 0xBF;
            case 0xF4: return b >= 0x80 && b <= 0x8F;
            default: break;
        }
    }
    return b >= 0x80 && b <= 0xBF;
}

char32_t CodePointOf(const unsigned char* s, int length) {
    switch (length) {
        case 2: return (char32_t(s[0] & 0x1F) << 6) | (s[1] & 0x3F);
        case 3: return (char32_t(s[0] & 0x0F) << 12) | (char32_t(s[1] & 0x3F) << 6) | (s[2] & 0x3F);
        default:
            return (char32_t(s[0] & 0x07) << 18) | (char32_t(s[1] & 0x3F) << 12) |
                   (char32_t(s[2] & 0x3F) << 6) | (s[3] & 0x3F);
    }
}

std::string Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

ResponseDecoder::Encoding ResponseDecoder::EncodingOfContentType(std::string_view contentType) {
    // Find the charset parameter: "text/xml; charset=utf-16", possibly quoted.
    std::string lowered = Lower(contentType);
    std::string_view rest(lowered);
    std::string_view charset;
    for (std::size_t semi = rest.find(';'); semi != std::string_view::npos; semi = rest.find(';')) {
        rest.remove_prefix(semi + 1);
        std::string_view param = Trim(rest.substr(0, rest.find(';')));
        if (param.substr(0, 7) == "charset") {
            std::string_view value = Trim(param.substr(7));
            if (!value.empty() && value.front() == '=') {
                value = Trim(value.substr(1));
                if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                    value = value.substr(1, value.size() - 2);
                charset = value;
                break;
            }
        }
    }
    // Tally labels its UTF-16 answers plainly "utf-16" and sends them little-endian without a
    // byte-order mark.
    if (charset == "utf-16" || charset == "utf-16le" || charset == "ucs-2" ||
        charset == "unicode")
        return Encoding::Utf16LE;
    if (charset == "utf-16be") return Encoding::Utf16BE;
    static constexpr std::string_view kSingleByte[] = {
        "windows-1252", "cp1252", "x-cp1252", "iso-8859-1", "iso8859-1", "iso_8859-1",
        "latin1",       "l1",     "us-ascii", "ascii",      "ansi_x3.4-1968"};
    for (std::string_view name : kSingleByte)
        if (charset == name) return Encoding::SingleByte;
    return Encoding::Utf8;
}

ResponseDecoder::ResponseDecoder(std::string_view contentType)
    : encoding_(EncodingOfContentType(contentType)) {}

std::uint64_t ResponseDecoder::ReplacedCount() const { return replaced_; }

void ResponseDecoder::Feed(std::string_view bytes, std::string& out) {
    if (!encodingSettled_) {
        // Hold back up to three bytes until they are known to be or not to be a byte-order mark.
        std::size_t take = std::min(bytes.size(), std::size_t{3} - head_.size());
        head_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        std::string_view h(head_);
        std::size_t markLength = 0;
        if (h.substr(0, 3) == "\xEF\xBB\xBF") {
            encoding_ = Encoding::Utf8;
            markLength = 3;
        } else if (h.substr(0, 2) == "\xFF\xFE") {
            encoding_ = Encoding::Utf16LE;
            markLength = 2;
        } else if (h.substr(0, 2) == "\xFE\xFF") {
            encoding_ = Encoding::Utf16BE;
            markLength = 2;
        } else if (h.size() < 3 && (std::string_view("\xEF\xBB\xBF").substr(0, h.size()) == h ||
                                    h == "\xFF" || h == "\xFE")) {
            return;  // could still become a mark
        }
        encodingSettled_ = true;
        std::string head = std::move(head_);
        head_.clear();
        DecodeBody(reinterpret_cast<const unsigned char*>(head.data()) + markLength,
                   head.size() - markLength, out);
    }
    DecodeBody(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out);
}

void ResponseDecoder::Finish(std::string& out) {
    if (!encodingSettled_) {
        // A body shorter than a byte-order mark: whatever it holds is text.
        encodingSettled_ = true;
        std::string head = std::move(head_);
        head_.clear();
        DecodeBody(reinterpret_cast<const unsigned char*>(head.data()), head.size(), out);
    }
    if (encoding_ == Encoding::Utf8) {
        // A sequence cut off by the end of the answer: its bytes stay as they are.
        out.append(reinterpret_cast<const char*>(pending_), pendingLength_);
        pendingLength_ = 0;
    } else if (encoding_ == Encoding::Utf16LE || encoding_ == Encoding::Utf16BE) {
        if (oddByte_ >= 0) {
            oddByte_ = -1;
            throw std::runtime_error("the answer ends inside a UTF-16 character");
        }
        if (highSurrogate_ != 0) {
            highSurrogate_ = 0;
            out.push_back('?');
            ++replaced_;
        }
    }
}

void ResponseDecoder::DecodeBody(const unsigned char* p, std::size_t n, std::string& out) {
    if (n == 0) return;
    if (encoding_ == Encoding::SingleByte) {
        out.append(reinterpret_cast<const char*>(p), n);
        return;
    }
    // Write straight into the string: at most one byte per input byte (UTF-8, plus a held-back
    // sequence), or per two input bytes (UTF-16, plus a held surrogate and an odd byte).
    std::size_t old = out.size();
    std::size_t room = encoding_ == Encoding::Utf8 ? n + 4 : n / 2 + 4;
    out.resize(old + room);
    char* dst = out.data() + old;
    std::size_t written = 0;
    switch (encoding_) {
        case Encoding::Utf8: written = DecodeUtf8(p, n, dst); break;
        case Encoding::Utf16LE: written = DecodeUtf16<false>(p, n, dst); break;
        case Encoding::Utf16BE: written = DecodeUtf16<true>(p, n, dst); break;
        case Encoding::SingleByte: break;
    }
    out.resize(old + written);
}

void ResponseDecoder::PutCodePoint(char32_t cp, char*& dst) {
    if (cp < 0x80) {
        *dst++ = static_cast<char>(cp);
        return;
    }
    unsigned char b = cp < kTableSize ? Windows1252Table()[cp] : 0;
    if (b == 0) {
        b = '?';
        ++replaced_;
    }
    *dst++ = static_cast<char>(b);
}

std::size_t ResponseDecoder::DecodeUtf8(const unsigned char* p, std::size_t n, char* dst) {
    char* d = dst;
    std::size_t i = 0;
    // Complete a sequence begun in the previous chunk.
    while (pendingLength_ > 0 && i < n) {
        unsigned char b = p[i];
        if (!IsContinuation(pending_[0], pendingLength_, b)) {
            // Not valid UTF-8: the held bytes stay as they are and b starts afresh below.
            std::memcpy(d, pending_, pendingLength_);
            d += pendingLength_;
            pendingLength_ = 0;
            break;
        }
        pending_[pendingLength_++] = b;
        ++i;
        if (pendingLength_ == pendingNeeded_) {
            PutCodePoint(CodePointOf(pending_, pendingNeeded_), d);
            pendingLength_ = 0;
        }
    }
    while (i < n) {
        std::size_t start = i;
        while (i + 8 <= n && (Load8(p + i) & kAsciiMask8) == 0) i += 8;
        while (i < n && p[i] < 0x80) ++i;
        if (i > start) {
            std::memcpy(d, p + start, i - start);
            d += i - start;
        }
        if (i == n) break;

        unsigned char lead = p[i];
        int length = SequenceLength(lead);
        int valid = length > 0 ? 1 : 0;  // bytes of the sequence seen to be valid so far
        while (valid > 0 && valid < length && i + valid < n &&
               IsContinuation(lead, valid, p[i + valid]))
            ++valid;
        if (length > 0 && valid == length) {
            PutCodePoint(CodePointOf(p + i, length), d);
            i += length;
        } else if (valid > 0 && i + valid == n) {
            // Cut by the end of the chunk: hold the bytes for the next one.
            std::memcpy(pending_, p + i, valid);
            pendingLength_ = static_cast<std::uint8_t>(valid);
            pendingNeeded_ = static_cast<std::uint8_t>(length);
            i = n;
        } else {
            // Not valid UTF-8: keep the byte as a Windows-1252 byte and go on after it.
            *d++ = static_cast<char>(lead);
            ++i;
        }
    }
    return static_cast<std::size_t>(d - dst);
}

template <bool bigEndian>
std::size_t ResponseDecoder::DecodeUtf16(const unsigned char* p, std::size_t n, char* dst) {
    char* d = dst;
    std::size_t i = 0;
    auto unit = [](unsigned char first, unsigned char second) -> char16_t {
        return bigEndian ? char16_t((first << 8) | second) : char16_t((second << 8) | first);
    };
    auto put = [&](char16_t u) {
        if (highSurrogate_ != 0) {
            highSurrogate_ = 0;
            if (u >= 0xDC00 && u <= 0xDFFF) {
                // A pair: one character beyond the Basic Multilingual Plane, never in
                // Windows-1252.
                *d++ = '?';
                ++replaced_;
                return;
            }
            *d++ = '?';  // a high surrogate without its low half
            ++replaced_;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            highSurrogate_ = u;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            *d++ = '?';
            ++replaced_;
        } else {
            PutCodePoint(u, d);
        }
    };
    if (oddByte_ >= 0 && n > 0) {
        put(unit(static_cast<unsigned char>(oddByte_), p[0]));
        oddByte_ = -1;
        i = 1;
    }
    const std::uint64_t asciiMask = bigEndian ? kAsciiMaskBE : kAsciiMaskLE;
    constexpr std::size_t low = bigEndian ? 1 : 0;
    while (i + 2 <= n) {
        if (highSurrogate_ == 0) {
            while (i + 8 <= n && (Load8(p + i) & asciiMask) == 0) {
                d[0] = static_cast<char>(p[i + low]);
                d[1] = static_cast<char>(p[i + 2 + low]);
                d[2] = static_cast<char>(p[i + 4 + low]);
                d[3] = static_cast<char>(p[i + 6 + low]);
                d += 4;
                i += 8;
            }
            if (i + 2 > n) break;
        }
        put(unit(p[i], p[i + 1]));
        i += 2;
    }
    if (i < n) oddByte_ = p[i];
    return static_cast<std::size_t>(d - dst);
}

namespace {
constexpr std::string_view kNoCompanyTag = "<LINEERROR ID=\"1\">";

// The tag at s, with a to z of s read as A to Z and nothing else changed.
bool TagAt(const char* s) {
    for (std::size_t k = 0; k < kNoCompanyTag.size(); ++k) {
        char c = s[k];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != kNoCompanyTag[k]) return false;
    }
    return true;
}

bool ContainsTag(std::string_view text) {
    const std::size_t n = text.size();
    if (n < kNoCompanyTag.size()) return false;
    const char* base = text.data();
    const std::size_t lastStart = n - kNoCompanyTag.size();
    for (std::size_t i = 0; i <= lastStart;) {
        const void* hit = std::memchr(base + i, '<', lastStart + 1 - i);
        if (hit == nullptr) return false;
        i = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
        if (TagAt(base + i)) return true;
        ++i;
    }
    return false;
}
}  // namespace

void NoCompanyScanner::Feed(std::string_view text) {
    if (found_ || blind_) return;
    std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
        text = text.substr(0, nul);
        blind_ = true;
    }
    constexpr std::size_t keep = kNoCompanyTag.size() - 1;
    if (!tail_.empty()) {
        // A tag that begins in the previous text and ends in this one.
        std::string joint = tail_;
        joint.append(text.substr(0, keep));
        if (ContainsTag(joint)) {
            found_ = true;
            return;
        }
    }
    if (ContainsTag(text)) {
        found_ = true;
        return;
    }
    if (text.size() >= keep) {
        tail_.assign(text.substr(text.size() - keep));
    } else {
        tail_.append(text);
        if (tail_.size() > keep) tail_.erase(0, tail_.size() - keep);
    }
}

bool HasNoCompanyLineError(std::string_view text) {
    NoCompanyScanner scanner;
    scanner.Feed(text);
    return scanner.Found();
}

}  // namespace korvane
