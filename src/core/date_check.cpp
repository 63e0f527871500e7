#include "core/date_check.h"

#include <ctime>
#include <utility>

namespace korvane {

int CurrentLocalYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return 1970;
    return local.tm_year + 1900;
}

namespace {

// Reads a text of the form day/month[/year] where "/" is the only separator and only the space
// character may surround the parts.
class DateScanner {
public:
    explicit DateScanner(std::string_view text) : text_(text) {}

    void SkipSpaces() {
        while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
    }

    bool AtEnd() const { return pos_ == text_.size(); }

    // Spaces, then the character if it is there.
    bool Take(char c) {
        SkipSpaces();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    // Spaces, then a run of digits read while the value is below 1000. A digit left over after
    // that stays unread, and so fails whatever is expected next. `digits` counts the characters
    // read, leading zeros included.
    bool Number(int& value, int& digits) {
        SkipSpaces();
        value = 0;
        digits = 0;
        while (pos_ < text_.size() && value < 1000 && text_[pos_] >= '0' && text_[pos_] <= '9') {
            value = value * 10 + (text_[pos_] - '0');
            ++digits;
            ++pos_;
        }
        return digits > 0;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// One- and two-digit years land in the hundred years from 50 years before the current year
// to 49 years after it.
int WithCentury(int year, int currentYear) {
    const int pivot = currentYear - 50;
    int full = year + (pivot / 100) * 100;
    if (full < pivot) full += 100;
    return full;
}

std::optional<CalendarDate> ParseNormalisedDate(std::string_view text, int currentYear) {
    DateScanner scan(text);
    int day = 0, month = 0, year = 0, digits = 0;
    if (!scan.Number(day, digits)) return std::nullopt;
    if (!scan.Take('/')) return std::nullopt;
    if (!scan.Number(month, digits)) return std::nullopt;
    if (scan.Take('/')) {
        if (!scan.Number(year, digits)) return std::nullopt;  // "/" after the month needs a year
        if (digits <= 2) year = WithCentury(year, currentYear);
        scan.Take('/');  // one closing "/" may follow the year
    } else {
        year = currentYear;
    }
    scan.SkipSpaces();
    if (!scan.AtEnd()) return std::nullopt;

    if (year < 1 || year > 9999) return std::nullopt;
    if (month < 1 || month > 12) return std::nullopt;
    if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
    return CalendarDate{day, month, year};
}

std::string Normalised(std::string_view text) {
    std::string copy(text);
    for (char& c : copy) {
        if (c == '-' || c == '.') c = '/';
    }
    return copy;
}

}  // namespace

std::optional<CalendarDate> ParseDayMonthYear(std::string_view text, int currentYear) {
    return ParseNormalisedDate(Normalised(text), currentYear);
}

bool IsValidDate(std::string_view text, int currentYear) {
    return ParseDayMonthYear(text, currentYear).has_value();
}

bool IsValidDate(std::string& text, bool copyBack, int currentYear) {
    std::string copy = Normalised(text);
    if (!ParseNormalisedDate(copy, currentYear)) return false;
    if (copyBack) text = std::move(copy);
    return true;
}

}  // namespace korvane
