#include "core/date_check.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

struct DateCase {
    std::string text;
    bool valid;
};

TEST(DateCheckTest, AcceptsDayMonthYearWithTheCalendarsLimits) {
    constexpr int kYear = 2025;
    const DateCase cases[] = {
        {"1/4/2024", true},
        {"1-4-2024", true},
        {"1.4.2024", true},
        {"1-4.2024", true},            // separators may be mixed
        {"01/04/2024", true},          // leading zeros
        {"0001/00004/02024", true},
        {"  1 / 4 / 2024  ", true},    // spaces around numbers and separators
        {"1/2", true},                 // current year
        {"1/2  ", true},
        {"29/2", false},               // 2025 is no leap year
        {"1/2/2024/", true},           // one closing "/" after the year
        {"1/2/2024 / ", true},
        {"1/2/", false},               // "/" after the month needs a year
        {"1/2 /", false},
        {"1/2/2024//", false},
        {"29/2/2024", true},
        {"29/2/2023", false},
        {"29/2/2000", true},           // divisible by 400
        {"29/2/1900", false},          // divisible by 100 only
        {"31/4/2024", false},
        {"30/4/2024", true},
        {"31/12/2024", true},
        {"32/1/2024", false},
        {"0/1/2024", false},
        {"1/0/2024", false},
        {"1/13/2024", false},
        {"2024/02/01", false},         // reads as day 2024
        {"1/1/20245", false},          // a digit after the value reached 1000
        {"1/1/9999", true},
        {"31/12/9999", true},
        {"1/1/10000", false},
        {"1/1/99999999999999999999", false},  // long digit runs must not overflow
        {"1/1/000", false},            // three digits: year 0
        {"1/1/001", true},             // year 1 as written
        {"1/1/2024 10:00", false},     // no time of day
        {"", false},
        {"   ", false},
        {"1", false},
        {"1/", false},
        {"/1/2024", false},
        {"1//2024", false},
        {"\t1/2/2024", false},         // only the space counts as a space
        {"1/2/2024\t", false},
        {"1/2/2024x", false},
        {"+1/2/2024", false},
        {"1/ 2/-2024", false},         // "-" became "/": 1/2//2024
        {"1 2/2024", false},
        {std::string("1/2/2024\0", 9), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.text + "'");
        EXPECT_EQ(IsValidDate(c.text, kYear), c.valid);
    }
}

struct YearCase {
    std::string text;
    int currentYear;
    CalendarDate date;
};

TEST(DateCheckTest, ReadsDayMonthYearAndGivesShortYearsACentury) {
    // One- and two-digit years land from 50 years before the current year to 49 after it;
    // three or more digit characters are taken as written.
    const YearCase cases[] = {
        {"1/1/75", 2025, {1, 1, 1975}},
        {"1/1/74", 2025, {1, 1, 2074}},
        {"1/1/0", 2025, {1, 1, 2000}},
        {"1/1/00", 2025, {1, 1, 2000}},
        {"1/1/99", 2025, {1, 1, 1999}},
        {"1/1/5", 2025, {1, 1, 2005}},
        {"1/1/024", 2025, {1, 1, 24}},
        {"1/1/0075", 2025, {1, 1, 75}},
        {"1/1/00", 2050, {1, 1, 2000}},  // window 2000..2099
        {"1/1/00", 2051, {1, 1, 2100}},  // window 2001..2100
        {"1/1/49", 1999, {1, 1, 1949}},  // window 1949..2048
        {"1/1/48", 1999, {1, 1, 2048}},
        {"3/7", 2025, {3, 7, 2025}},     // no year: the current one
        {"29/2", 2024, {29, 2, 2024}},
        {"09.11.2024", 2025, {9, 11, 2024}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " in " + std::to_string(c.currentYear));
        const auto date = ParseDayMonthYear(c.text, c.currentYear);
        ASSERT_TRUE(date.has_value());
        EXPECT_EQ(*date, c.date);
    }
    EXPECT_FALSE(ParseDayMonthYear("29/2/00", 2051).has_value());  // 2100 is no leap year
}

TEST(DateCheckTest, CopyBackReplacesSeparatorsOnlyWhenValid) {
    std::string text = " 1-4.2024 ";
    EXPECT_TRUE(IsValidDate(text, false, 2025));
    EXPECT_EQ(text, " 1-4.2024 ");
    EXPECT_TRUE(IsValidDate(text, true, 2025));
    EXPECT_EQ(text, " 1/4/2024 ");

    std::string invalid = "31-4-2024";
    EXPECT_FALSE(IsValidDate(invalid, true, 2025));
    EXPECT_EQ(invalid, "31-4-2024");
}

TEST(DateCheckTest, CurrentLocalYearIsPlausible) {
    const int year = CurrentLocalYear();
    EXPECT_GE(year, 2024);
    EXPECT_LE(year, 9999);
}

}  // namespace
}  // namespace korvane
