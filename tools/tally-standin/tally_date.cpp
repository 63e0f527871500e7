#include "tally_date.h"

#include <array>
#include <cctype>
#include <cstdio>

namespace korvane::standin {
namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[static_cast<std::size_t>(m - 1)];
}

void CivilFromDays(DayNumber z, int& y, int& m, int& d) {
    z += 719468;
    const int era = (z >= 0 ? z : z - 146096) / 146097;
    const int doe = z - era * 146097;
    const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

constexpr std::array<const char*, 12> kMonthNames{"january", "february", "march",     "april",
                                                  "may",     "june",     "july",      "august",
                                                  "september", "october", "november", "december"};

bool IsSeparator(char c) { return c == '/' || c == '-' || c == '.'; }

// Reads a run of digits (at most `max` of them) at `pos`.
std::optional<int> ReadNumber(std::string_view s, std::size_t& pos, std::size_t max,
                              std::size_t& digits) {
    digits = 0;
    int value = 0;
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
        if (++digits > max) return std::nullopt;
        value = value * 10 + (s[pos] - '0');
        ++pos;
    }
    if (digits == 0) return std::nullopt;
    return value;
}

std::optional<int> ReadMonth(std::string_view s, std::size_t& pos) {
    if (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
        std::size_t digits = 0;
        return ReadNumber(s, pos, 2, digits);
    }
    std::string word;
    while (pos < s.size() && std::isalpha(static_cast<unsigned char>(s[pos]))) {
        word.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(s[pos]))));
        ++pos;
    }
    if (word.size() < 3) return std::nullopt;
    for (std::size_t i = 0; i < kMonthNames.size(); ++i) {
        if (std::string_view(kMonthNames[i]).starts_with(word)) return static_cast<int>(i + 1);
    }
    return std::nullopt;
}

std::optional<DayNumber> Checked(int y, int m, int d) {
    if (y < 1900 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) {
        return std::nullopt;
    }
    return DaysFromCivil(y, m, d);
}

}  // namespace

DayNumber DaysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::string DayToYyyymmdd(DayNumber day) {
    int y, m, d;
    CivilFromDays(day, y, m, d);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
    return buf;
}

std::string DayToText(DayNumber day) {
    static constexpr std::array<const char*, 12> kShort{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int y, m, d;
    CivilFromDays(day, y, m, d);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%d-%s-%d", d, kShort[static_cast<std::size_t>(m - 1)], y);
    return buf;
}

std::optional<DayNumber> ParseTallyDate(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.size() == 8 && text.find_first_not_of("0123456789") == std::string_view::npos) {
        const auto num = [&](std::size_t at, std::size_t len) {
            int v = 0;
            for (std::size_t i = at; i < at + len; ++i) v = v * 10 + (text[i] - '0');
            return v;
        };
        return Checked(num(0, 4), num(4, 2), num(6, 2));
    }
    std::size_t pos = 0;
    std::size_t digits = 0;
    const auto day = ReadNumber(text, pos, 2, digits);
    if (!day || pos >= text.size() || !IsSeparator(text[pos])) return std::nullopt;
    ++pos;
    const auto month = ReadMonth(text, pos);
    if (!month || pos >= text.size() || !IsSeparator(text[pos])) return std::nullopt;
    ++pos;
    auto year = ReadNumber(text, pos, 4, digits);
    if (!year || pos != text.size() || digits == 3) return std::nullopt;
    if (digits <= 2) *year += 2000;
    return Checked(*year, *month, *day);
}

}  // namespace korvane::standin
