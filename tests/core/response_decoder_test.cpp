#include "core/response_decoder.h"

#include <gtest/gtest.h>

#include "feed_in_pieces.h"
#include <iconv.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvane {
namespace {

std::string DecodeWhole(std::string_view contentType, std::string_view bytes,
                        std::uint64_t* replaced = nullptr) {
    ResponseDecoder decoder(contentType);
    std::string out;
    decoder.Feed(bytes, out);
    decoder.Finish(out);
    if (replaced != nullptr) *replaced = decoder.ReplacedCount();
    return out;
}

std::string DecodeInPieces(std::string_view contentType, std::string_view bytes,
                           const std::vector<std::size_t>& cuts, std::uint64_t* replaced) {
    ResponseDecoder decoder(contentType);
    std::string out = test_support::FeedInPieces(decoder, bytes, cuts);
    *replaced = decoder.ReplacedCount();
    return out;
}

std::string Utf16(std::u16string_view units, bool bigEndian) {
    std::string bytes;
    for (char16_t u : units) {
        char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return bytes;
}

struct DecodeCase {
    const char* what;
    std::string contentType;
    std::string bytes;
    std::string expected;
    std::uint64_t replaced;
};

TEST(ResponseDecoder, DecodesEachEncodingToWindows1252) {
    const std::string le = "text/xml; charset=utf-16";
    const std::vector<DecodeCase> cases = {
        {"no content type: UTF-8", "", "A\xC3\xA9\xE2\x82\xAC", "A\xE9\x80", 0},
        {"rupee, Devanagari and an emoji have no place", "text/xml; charset=utf-8",
         "\xE2\x82\xB9 \xE0\xA4\x95 \xF0\x9F\x98\x80", "? ? ?", 3},
        {"C1 control U+0080 is not held, U+0081 round-trips", "text/xml",
         "\xC2\x80\xC2\x81\xC5\x92\xC3\xBF", "?\x81\x8C\xFF", 1},
        {"lone Windows-1252 byte kept", "text/xml", "caf\xE9!", "caf\xE9!", 0},
        {"broken sequence: lead kept, next byte read afresh", "text/xml", "\xC3(\xE2\x82x",
         "\xC3(\xE2\x82x", 0},
        {"overlong, surrogate, beyond U+10FFFF and F5 are not UTF-8", "text/xml",
         "\xC0\x80\xED\xA0\x80\xF4\x90\x80\x80\xF5", "\xC0\x80\xED\xA0\x80\xF4\x90\x80\x80\xF5", 0},
        {"sequence cut off by the end stays as bytes", "text/xml", "ab\xE2\x82", "ab\xE2\x82", 0},
        {"UTF-16 as Tally sends it: little-endian, no mark", le,
         Utf16(u"<A>\u00E9\u20B9\u20AC</A>", false), "<A>\xE9?\x80</A>", 1},
        {"charset is read case-blind and quoted", "Text/XML; Charset=\"UTF-16LE\"",
         Utf16(u"x\u00E9", false), "x\xE9", 0},
        {"UTF-16BE by charset", "text/xml;charset=utf-16be", Utf16(u"x\u0152", true), "x\x8C", 0},
        {"surrogate pair counts once; lone halves count each", le,
         Utf16(u"a\U0001F600b", false) + Utf16(std::u16string{0xD800, u'c', 0xDC00}, false),
         "a?b?c?", 3},
        {"U+0000 comes through", le, Utf16(std::u16string(u"a\0b", 3), false),
         std::string("a\0b", 3), 0},
        {"byte-order mark beats the charset: UTF-8", le, "\xEF\xBB\xBF\xC3\xA9", "\xE9", 0},
        {"byte-order mark beats the charset: UTF-16LE", "text/xml; charset=windows-1252",
         "\xFF\xFE" + Utf16(u"\u00E9", false), "\xE9", 0},
        {"byte-order mark beats the charset: UTF-16BE", "", "\xFE\xFF" + Utf16(u"\u20AC", true),
         "\x80", 0},
        {"windows-1252 passes every byte", "text/xml; charset=windows-1252", "\x80\x81\xE9\xFF",
         "\x80\x81\xE9\xFF", 0},
        {"latin1 and ascii labels read as Windows-1252", "text/xml; charset=ISO-8859-1", "\x93\xE9",
         "\x93\xE9", 0},
        {"us-ascii keeps high bytes", "text/plain; charset=us-ascii", "\xE9", "\xE9", 0},
        {"unknown charset falls back to UTF-8", "text/xml; charset=klingon", "\xC3\xA9", "\xE9", 0},
        {"shorter than a mark", "", "\xEF\xBB", "\xEF\xBB", 0},
        {"empty", le, "", "", 0},
    };
    for (const DecodeCase& c : cases) {
        std::uint64_t replaced = 0;
        EXPECT_EQ(DecodeWhole(c.contentType, c.bytes, &replaced), c.expected) << c.what;
        EXPECT_EQ(replaced, c.replaced) << c.what;
    }
}

TEST(ResponseDecoder, Utf16AnswerEndingInsideACharacterCannotBeDecoded) {
    for (std::string ct : {"text/xml; charset=utf-16", "text/xml; charset=utf-16be"}) {
        ResponseDecoder decoder(ct);
        std::string out;
        decoder.Feed(std::string_view("a\0b", 3), out);
        EXPECT_THROW(decoder.Finish(out), std::runtime_error) << ct;
    }
}

// Every code point of the Basic Multilingual Plane (and a few beyond), through UTF-8, UTF-16LE
// and UTF-16BE, against the C library's own Windows-1252 table.
TEST(ResponseDecoder, AgreesWithTheCLibraryOnEveryCharacter) {
    iconv_t cd = iconv_open("CP1252", "UTF-32LE");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string utf8, utf16le, utf16be, expected;
    std::uint64_t expectedReplaced = 0;
    auto add = [&](char32_t cp) {
        char in[4] = {char(cp & 0xFF), char((cp >> 8) & 0xFF), char((cp >> 16) & 0xFF), 0};
        char outByte = 0;
        char* inp = in;
        char* outp = &outByte;
        std::size_t inLeft = 4, outLeft = 1;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const bool held = iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<std::size_t>(-1);
        // Windows keeps its five undefined bytes as the matching C1 controls.
        const bool undefinedByte =
            cp == 0x81 || cp == 0x8D || cp == 0x8F || cp == 0x90 || cp == 0x9D;
        if (held) {
            expected += outByte;
        } else if (undefinedByte) {
            expected += static_cast<char>(cp);
        } else {
            expected += '?';
            ++expectedReplaced;
        }
        if (cp < 0x80) {
            utf8 += char(cp);
        } else if (cp < 0x800) {
            utf8 += {char(0xC0 | (cp >> 6)), char(0x80 | (cp & 0x3F))};
        } else if (cp < 0x10000) {
            utf8 += {char(0xE0 | (cp >> 12)), char(0x80 | ((cp >> 6) & 0x3F)),
                     char(0x80 | (cp & 0x3F))};
        } else {
            utf8 += {char(0xF0 | (cp >> 18)), char(0x80 | ((cp >> 12) & 0x3F)),
                     char(0x80 | ((cp >> 6) & 0x3F)), char(0x80 | (cp & 0x3F))};
        }
        std::u16string units;
        if (cp < 0x10000) {
            units += char16_t(cp);
        } else {
            units += char16_t(0xD800 + ((cp - 0x10000) >> 10));
            units += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
        utf16le += Utf16(units, false);
        utf16be += Utf16(units, true);
    };
    for (char32_t cp = 0; cp < 0x10000; ++cp)
        if (cp < 0xD800 || cp > 0xDFFF) add(cp);
    for (char32_t cp : {0x10000u, 0x1F600u, 0x10FFFFu}) add(cp);
    iconv_close(cd);

    struct {
        const char* contentType;
        const std::string& bytes;
    } inputs[] = {{"text/xml; charset=utf-8", utf8},
                  {"text/xml; charset=utf-16", utf16le},
                  {"text/xml; charset=utf-16be", utf16be}};
    for (const auto& in : inputs) {
        std::uint64_t replaced = 0;
        std::string got = DecodeWhole(in.contentType, in.bytes, &replaced);
        ASSERT_EQ(got.size(), expected.size()) << in.contentType;
        for (std::size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i], expected[i]) << in.contentType << " at character " << i;
        EXPECT_EQ(replaced, expectedReplaced) << in.contentType;
    }
}

// Chunk borders may fall anywhere: inside a mark, a UTF-8 sequence, a UTF-16 unit or a
// surrogate pair. Feeding in pieces must give what feeding at once gives.
TEST(ResponseDecoder, PiecesGiveTheSameTextAsTheWhole) {
    std::mt19937 random(20240611);
    const std::vector<std::u16string> pieces = {
        u"<VOUCHER>", u"plain ascii text here ", u"\u00E9",     u"\u20AC",
        u"\u20B9",    u"\u0915\u093E",           u"\U0001F600", u"\r\n",
        u"&amp;"};
    std::u16string text;
    for (int i = 0; i < 3000; ++i) text += pieces[random() % pieces.size()];

    std::string utf8;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (cp < 0x80)
            utf8 += char(cp);
        else if (cp < 0x800)
            utf8 += {char(0xC0 | (cp >> 6)), char(0x80 | (cp & 0x3F))};
        else if (cp < 0x10000)
            utf8 += {char(0xE0 | (cp >> 12)), char(0x80 | ((cp >> 6) & 0x3F)),
                     char(0x80 | (cp & 0x3F))};
        else
            utf8 += {char(0xF0 | (cp >> 18)), char(0x80 | ((cp >> 12) & 0x3F)),
                     char(0x80 | ((cp >> 6) & 0x3F)), char(0x80 | (cp & 0x3F))};
        if (i % 97 == 0) utf8 += "\xE9\xC3";  // bytes that are not UTF-8
    }
    struct {
        const char* contentType;
        std::string bytes;
    } inputs[] = {{"text/xml; charset=utf-8", utf8},
                  {"", "\xEF\xBB\xBF" + utf8},
                  {"text/xml; charset=utf-16", Utf16(text, false)},
                  {"", "\xFF\xFE" + Utf16(text, false)},
                  {"", "\xFE\xFF" + Utf16(text, true)}};
    for (const auto& in : inputs) {
        std::uint64_t wholeReplaced = 0;
        const std::string whole = DecodeWhole(in.contentType, in.bytes, &wholeReplaced);
        for (int round = 0; round < 40; ++round) {
            std::vector<std::size_t> cuts;
            if (round == 0) {
                for (std::size_t c = 1; c < in.bytes.size(); ++c)
                    cuts.push_back(c);  // byte by byte
            } else {
                for (std::size_t c = random() % 7; c < in.bytes.size();
                     c += 1 + random() % (round * 5))
                    cuts.push_back(c);
            }
            std::uint64_t replaced = 0;
            ASSERT_EQ(DecodeInPieces(in.contentType, in.bytes, cuts, &replaced), whole)
                << in.contentType << " round " << round;
            ASSERT_EQ(replaced, wholeReplaced) << in.contentType << " round " << round;
        }
    }
}

TEST(NoCompanyScan, FindsOnlyTheExactTagWithLettersCaseBlind) {
    const struct {
        std::string text;
        bool found;
    } cases[] = {
        {"<RESPONSE><LINEERROR ID=\"1\">Could not find Company ''</LINEERROR></RESPONSE>", true},
        {"x<lineerror id=\"1\">", true},
        {"<LineError Id=\"1\">", true},
        {"<LINEERROR ID=\"10\">", false},
        {"<LINEERROR ID='1'>", false},
        {"<LINEERROR  ID=\"1\">", false},
        {"<LINEERROR ID = \"1\">", false},
        {"<LINEERROR ID=\"1\"", false},
        {"<LINEERROR>Could not find Report</LINEERROR>", false},
        {std::string("ok\0<LINEERROR ID=\"1\">", 21), false},
        {std::string("<LINEERROR ID=\"1\">\0", 19), true},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(HasNoCompanyLineError(c.text), c.found) << c.text;
}

TEST(NoCompanyScan, FindsTheTagAcrossChunkBordersButNotAfterANul) {
    const std::string text = "<ENVELOPE>..<LINEERROR id=\"1\">no company</LINEERROR>";
    for (std::size_t a = 0; a <= text.size(); ++a) {
        for (std::size_t b = a; b <= text.size(); ++b) {
            NoCompanyScanner scanner;
            scanner.Feed(std::string_view(text).substr(0, a));
            scanner.Feed(std::string_view(text).substr(a, b - a));
            scanner.Feed(std::string_view(text).substr(b));
            ASSERT_TRUE(scanner.Found()) << a << "/" << b;
        }
    }
    NoCompanyScanner byteByByte;
    for (char c : text) byteByByte.Feed(std::string_view(&c, 1));
    EXPECT_TRUE(byteByByte.Found());

    NoCompanyScanner blind;
    blind.Feed(std::string_view("<LINEERR\0", 9));
    blind.Feed("<LINEERROR ID=\"1\">");
    EXPECT_FALSE(blind.Found());
}

}  // namespace
}  // namespace korvane
