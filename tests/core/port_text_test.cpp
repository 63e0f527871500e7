#include "core/port_text.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

struct Accepted {
    std::string text;
    std::int32_t value;
};

TEST(PortTextTest, ConvertsDecimalAndHexadecimalForms) {
    const Accepted cases[] = {
        {"9000", 9000},
        {"0", 0},
        {"   9000", 9000},           // leading spaces skipped
        {"+9000", 9000},
        {"-1", -1},
        {"-0", 0},
        {"0009000", 9000},           // leading zeros do not count towards the range
        {"70000", 70000},            // no port range check
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"$2328", 9000},
        {"x2328", 9000},
        {"X2328", 9000},
        {"0x2328", 9000},
        {"0XaBcD", 0xABCD},
        {"  $ff", 255},
        {"$7FFFFFFF", 2147483647},
        {"$000000007FFFFFFF", 2147483647},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(PortTextToInt(c.text), c.value);
        EXPECT_EQ(TryPortTextToInt(c.text), c.value);
    }
}

TEST(PortTextTest, RejectsEverythingElse) {
    const std::string cases[] = {
        "",
        "   ",
        "9000 ",          // nothing may follow, not even a blank
        "\t9000",         // only the space counts as a blank
        "90 00",
        "9000x",
        "12a",
        "+",
        "-",
        "--1",
        "+-1",
        "$",
        "0x",
        "x",
        "$g",
        "-$10",           // a sign belongs to decimal numbers only
        "+0x10",
        "00x10",
        "$FFFFFFFF",      // outside the signed range: no wrap to -1
        "$80000000",
        "2147483648",
        "-2147483649",
        "99999999999999999999",
        "1.5",
        "1e3",
        std::string("90\0" "00", 5),
    };
    for (const auto& text : cases) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(TryPortTextToInt(text).has_value());
        try {
            PortTextToInt(text);
            ADD_FAILURE() << "no error";
        } catch (const ConversionError& e) {
            // what() stops at a NUL byte, so compare only up to it.
            const std::string expected = "'" + text + "' is not a valid integer value";
            EXPECT_EQ(std::string(e.what()), expected.substr(0, expected.find('\0')));
        }
    }
}

}  // namespace
}  // namespace korvane
