#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

// The current year of the local clock.
int CurrentLocalYear();

struct CalendarDate {
    int day = 0;
    int month = 0;
    int year = 0;
    bool operator==(const CalendarDate&) const = default;
};

// The date that a day/month[/year] text names, "-" and "." read as "/"; empty when the text
// is not a valid date. currentYear as below.
std::optional<CalendarDate> ParseDayMonthYear(std::string_view text, int currentYear);

// True when the text, with "-" and "." read as "/", is a valid day/month[/year] date.
// currentYear gives the year when it is left out and the century of one- and two-digit years.
bool IsValidDate(std::string_view text, int currentYear);
// With copyBack set, a valid text is replaced by its normalised form (same length, "/" only).
bool IsValidDate(std::string& text, bool copyBack, int currentYear);

}  // namespace korvane
