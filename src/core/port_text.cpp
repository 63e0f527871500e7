#include "core/port_text.h"

#include <limits>

namespace korvane {

namespace {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

// Choices where the conversion could go either way, all on the strict side:
// - only the space character counts as a leading blank; a tab or any other control character
//   fails, as does anything after the number (a trailing space too);
// - a sign belongs to decimal numbers only: "-$10" and "+0x10" fail;
// - a hexadecimal number must fit the 32-bit signed range like a decimal one, so "$7FFFFFFF"
//   is the largest and "$FFFFFFFF" fails instead of wrapping round to -1;
// - leading zeros are allowed in both forms and do not count towards the range.
std::optional<std::int32_t> TryPortTextToInt(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i == text.size()) return std::nullopt;

    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;

    auto hexPrefixLength = [&]() -> std::size_t {
        const char c = text[i];
        if (c == '$' || c == 'x' || c == 'X') return 1;
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) return 2;
        return 0;
    };

    if (const std::size_t prefix = hexPrefixLength(); prefix != 0) {
        i += prefix;
        if (i == text.size()) return std::nullopt;
        for (; i < text.size(); ++i) {
            const int digit = HexDigitValue(text[i]);
            if (digit < 0) return std::nullopt;
            value = value * 16 + digit;
            if (value > kMax) return std::nullopt;
        }
        return static_cast<std::int32_t>(value);
    }

    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return std::nullopt;
    // The negative side reaches one further than the positive one.
    const std::int64_t limit = negative ? kMax + 1 : kMax;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > limit) return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::int32_t PortTextToInt(std::string_view text) {
    if (const auto value = TryPortTextToInt(text)) return *value;
    std::string message;
    message.reserve(text.size() + 32);
    message.append("'").append(text).append("' is not a valid integer value");
    throw ConversionError(message);
}

}  // namespace korvane
