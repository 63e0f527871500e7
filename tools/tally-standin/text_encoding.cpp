#include "text_encoding.h"

#include <cstdint>

namespace korvane::standin {
namespace {

// Length of the UTF-8 sequence that starts with `lead`; our own texts are always valid UTF-8.
int SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

}  // namespace

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string_view ContentTypeFor(AnswerCharset charset) {
    return charset == AnswerCharset::Utf16Le ? "text/xml; charset=utf-16" : "text/xml; charset=utf-8";
}

void AppendEncoded(std::string_view utf8, AnswerCharset charset, std::string& out) {
    const std::size_t old = out.size();
    const std::size_t n = utf8.size();
    const auto* in = reinterpret_cast<const unsigned char*>(utf8.data());
    if (charset == AnswerCharset::Ascii) {
        out.resize(old + n);
        char* p = out.data() + old;
        for (std::size_t i = 0; i < n;) {
            const unsigned char c = in[i];
            if (c < 0x80) {
                *p++ = static_cast<char>(c);
                ++i;
            } else {
                *p++ = '?';
                i += static_cast<std::size_t>(SequenceLength(c));
            }
        }
        out.resize(static_cast<std::size_t>(p - out.data()));
        return;
    }
    // Each UTF-8 byte gives at most two bytes of UTF-16 (four-byte sequences give a surrogate pair).
    out.resize(old + 2 * n);
    char* p = out.data() + old;
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = in[i];
        char32_t cp;
        if (c < 0x80) {
            *p++ = static_cast<char>(c);
            *p++ = 0;
            ++i;
            continue;
        }
        const int len = SequenceLength(c);
        if (len == 2) {
            cp = (char32_t(c & 0x1F) << 6) | (in[i + 1] & 0x3F);
        } else if (len == 3) {
            cp = (char32_t(c & 0x0F) << 12) | (char32_t(in[i + 1] & 0x3F) << 6) | (in[i + 2] & 0x3F);
        } else {
            cp = (char32_t(c & 0x07) << 18) | (char32_t(in[i + 1] & 0x3F) << 12) |
                 (char32_t(in[i + 2] & 0x3F) << 6) | (in[i + 3] & 0x3F);
        }
        i += static_cast<std::size_t>(len);
        auto unit = [&p](std::uint16_t u) {
            *p++ = static_cast<char>(u & 0xFF);
            *p++ = static_cast<char>(u >> 8);
        };
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(static_cast<std::uint16_t>(0xD800 | (cp >> 10)));
            unit(static_cast<std::uint16_t>(0xDC00 | (cp & 0x3FF)));
        } else {
            unit(static_cast<std::uint16_t>(cp));
        }
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
}

std::string Encode(std::string_view utf8, AnswerCharset charset) {
    std::string out;
    AppendEncoded(utf8, charset, out);
    return out;
}

bool IsValidUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<std::size_t>(len) > n) return false;
        for (int k = 1; k < len; ++k) {
            const unsigned char cc = s[i + static_cast<std::size_t>(k)];
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += static_cast<std::size_t>(len);
    }
    return true;
}

std::optional<std::string> Utf16LeToUtf8(std::string_view bytes) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    if (bytes.size() >= 2 && s[0] == 0xFE && s[1] == 0xFF) return std::nullopt;
    if (bytes.size() >= 2 && s[0] == 0xFF && s[1] == 0xFE) i = 2;
    std::string out;
    out.reserve(bytes.size() / 2 + 16);
    while (i < bytes.size()) {
        char32_t u = char32_t(s[i]) | (char32_t(s[i + 1]) << 8);
        i += 2;
        if (u >= 0xDC00 && u <= 0xDFFF) return std::nullopt;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i >= bytes.size()) return std::nullopt;
            const char32_t low = char32_t(s[i]) | (char32_t(s[i + 1]) << 8);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            i += 2;
            u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(u, out);
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) AppendUtf8(static_cast<unsigned char>(c), out);
    return out;
}

}  // namespace korvane::standin
