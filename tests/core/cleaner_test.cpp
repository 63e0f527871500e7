#include "core/cleaner.h"

#include <gtest/gtest.h>

#include "feed_in_pieces.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace korvane {
namespace {

using namespace std::string_literals;

// The cleaning written the slow, obvious way: filter every byte, then remove "&#4;" scanning
// left to right and never looking back at what a removal joined.
std::string reference_clean(std::string_view text) {
    std::string filtered;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 32 || c == 9 || c == 10 || c == 13) filtered += ch;
    }
    std::string result;
    std::size_t i = 0;
    while (i < filtered.size()) {
        if (filtered.compare(i, 4, "&#4;") == 0) {
            i += 4;
        } else {
            result += filtered[i++];
        }
    }
    return result;
}

std::string all_high_bytes() {
    std::string s;
    for (int c = 127; c <= 255; ++c) s += static_cast<char>(c);
    return s;
}

struct Case {
    const char* name;
    std::string input;
    std::string expected;
};

TEST(StripInvalidXml, CleansTheListedCases) {
    const std::vector<Case> cases = {
        {"empty", "", ""},
        {"only dropped bytes", "\x04\x04\x04\x01\x1f"s, ""},
        {"every dropped byte",
         [] {
             std::string s;
             for (int c = 0; c < 32; ++c) s += static_cast<char>(c);
             return s;
         }(),
         "\t\n\r"},
        {"tab, line feed, carriage return stay", "a\tb\nc\rd", "a\tb\nc\rd"},
        {"vertical tab and form feed go", "a\vb\fc", "abc"},
        {"127 to 255 stay", all_high_bytes(), all_high_bytes()},
        {"zero byte dropped, text after it stays", "<A>\0tail</A>"s, "<A>tail</A>"},
        {"reference removed anywhere", "&#4;x&#4;y&#4;", "xy"},
        {"references in a row", "&#4;&#4;&#4;&#4;", ""},
        {"joined text not searched again", "&&#4;#4;", "&#4;"},
        {"filter runs before removal",
         "&#\x01"
         "4;",
         ""},
        {"control bytes all through a reference",
         "\x02&\x03#\x04"
         "4\x05;\x06",
         ""},
        {"incomplete reference stays", "a&#4", "a&#4"},
        {"other forms untouched", "&#04;&#x4;&#4 ;&amp;", "&#04;&#x4;&#4 ;&amp;"},
        {"ampersands before a reference", "&&&#4;;", "&&;"},
        {"reference in a long ordinary run",
         "<VOUCHER>Sales &#4; of the month\r\n</VOUCHER>\x07<X>",
         "<VOUCHER>Sales  of the month\r\n</VOUCHER><X>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(strip_invalid_xml(c.input), c.expected);
        // Byte by byte through the streaming form: every cut inside a reference at once.
        StreamingCleaner cleaner;
        std::vector<std::size_t> cuts;
        for (std::size_t i = 1; i < c.input.size(); ++i) cuts.push_back(i);
        EXPECT_EQ(test_support::FeedInPieces(cleaner, c.input, cuts), c.expected);
    }
}

// Random texts rich in the bytes that matter, in short bursts and inside long ordinary runs
// (the fast path scans blocks), checked against the obvious form; the streaming form gets the
// same texts cut at random places, empty chunks included, and one cleaner is reused throughout.
TEST(StripInvalidXml, MatchesObviousFormAndStreamingFormOnRandomTexts) {
    std::mt19937 rng(20240401);
    const std::string interesting = "&&&###444;;;\x01\x04\x0b\x1f\t\r\n\x7f\xe9"s + '\0';
    const std::string ordinary = "<ENVELOPE>Tally 123.45 voucher</ENVELOPE>";
    auto pick = [&rng](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };

    StreamingCleaner cleaner;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const std::size_t length = pick(round % 10 == 0 ? 600 : 60);
        const std::size_t plain_share = pick(100);  // per cent of ordinary bytes
        while (text.size() < length) {
            if (pick(100) < plain_share) {
                text += ordinary[pick(ordinary.size())];
            } else if (pick(4) == 0) {
                text += "&#4;";
            } else {
                text += interesting[pick(interesting.size())];
            }
        }
        const std::string expected = reference_clean(text);
        ASSERT_EQ(strip_invalid_xml(text), expected) << "round " << round;
        ASSERT_LE(expected.size(), text.size());

        std::vector<std::size_t> cuts;
        const std::size_t cut_count = pick(8);
        for (std::size_t k = 0; k < cut_count; ++k) cuts.push_back(pick(text.size() + 1));
        std::sort(cuts.begin(), cuts.end());
        ASSERT_EQ(test_support::FeedInPieces(cleaner, text, cuts), expected) << "round " << round;
    }
}

TEST(StripInvalidXml, WritesIntoCallersBuffer) {
    const std::string text =
        "ab&#4;cd\x01"
        "ef";
    std::string buffer(text.size(), '*');
    const std::size_t length = strip_invalid_xml_to(text, buffer.data());
    EXPECT_EQ(buffer.substr(0, length), "abcdef");
}

}  // namespace
}  // namespace korvane
