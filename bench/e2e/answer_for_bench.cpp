// Turns a stand-in export answer in UTF-16LE (standard input) into the benchmark's answer
// (standard output): the same text without the characters and the "&#4;" references that XML
// forbids, in UTF-16LE with a byte-order mark, or with the argument "utf-8" in UTF-8. Every tool of the benchmark can then parse the very same
// bytes to the end, and the export finds nothing to clean but still looks at every byte.
#include <cstdio>
#include <string>

#include "text_encoding.h"

int main(int argc, char** argv) {
    const bool utf8 = argc > 1 && std::string(argv[1]) == "utf-8";
    std::string in(1 << 20, '\0');
    std::string out;
    out.reserve(in.size() + 8);
    if (!utf8) out.append("\xFF\xFE", 2);
    std::u16string held;  // a possible start of "&#4;"
    const std::u16string ref = u"&#4;";
    char16_t highSurrogate = 0;
    const auto put = [&](char16_t c) {
        if (!utf8) {
            out.push_back(static_cast<char>(c & 0xFF));
            out.push_back(static_cast<char>(c >> 8));
            return;
        }
        if (c >= 0xD800 && c < 0xDC00) {
            highSurrogate = c;
            return;
        }
        char32_t cp = c;
        if (c >= 0xDC00 && c < 0xE000 && highSurrogate != 0) {
            cp = 0x10000 + ((static_cast<char32_t>(highSurrogate) - 0xD800) << 10) + (c - 0xDC00);
        }
        highSurrogate = 0;
        korvane::standin::AppendUtf8(cp, out);
    };
    unsigned char odd = 0;
    bool haveOdd = false;
    for (;;) {
        const std::size_t n = std::fread(in.data(), 1, in.size(), stdin);
        if (n == 0) break;
        for (std::size_t i = 0; i < n; ++i) {
            const auto b = static_cast<unsigned char>(in[i]);
            if (!haveOdd) {
                odd = b;
                haveOdd = true;
                continue;
            }
            haveOdd = false;
            const auto c = static_cast<char16_t>(odd | (b << 8));
            if (c < 0x20 && c != 9 && c != 10 && c != 13) continue;
            held.push_back(c);
            if (ref.compare(0, held.size(), held) == 0) {
                if (held.size() == ref.size()) held.clear();
                continue;
            }
            // Not a reference after all: its first character goes out, the rest is looked at again.
            put(held.front());
            std::u16string rest = held.substr(1);
            held.clear();
            for (char16_t r : rest) {
                held.push_back(r);
                if (ref.compare(0, held.size(), held) != 0) {
                    for (char16_t h : held) put(h);
                    held.clear();
                }
            }
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    }
    for (char16_t h : held) put(h);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
