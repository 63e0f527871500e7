#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace korvane::standin {

// A calendar day as a count of days since 1970-01-01.
using DayNumber = int;

DayNumber DaysFromCivil(int year, int month, int day);
// "YYYYMMDD", the form of a voucher's DATE element.
std::string DayToYyyymmdd(DayNumber day);
// "1-Apr-2024", the form Tally shows and the README uses.
std::string DayToText(DayNumber day);

// Reads a period date the way Tally reads SVFROMDATE and SVTODATE: day, month and year separated
// by "/", "-" or "."; the month as a number or an English month name ("Apr", "April"); a year of
// one or two digits taken as 20YY. Eight digits are read as YYYYMMDD. Blanks around the text are
// ignored. Nothing when the text is not such a date or names a day that does not exist.
std::optional<DayNumber> ParseTallyDate(std::string_view text);

}  // namespace korvane::standin
