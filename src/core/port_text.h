#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace korvane {

// Raised when a text does not convert; the message is "'<text>' is not a valid integer value".
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Converts the server port text to a 32-bit signed integer: leading blanks skipped, then an
// optional sign and decimal digits, or a hexadecimal number introduced by "$", "x", "X", "0x" or
// "0X"; nothing may follow. The range of a TCP port is deliberately not checked here.
// Only the space counts as a blank; a sign goes with decimal numbers only; a hexadecimal
// number must fit the signed range too ("$FFFFFFFF" fails rather than wrapping to -1).
std::int32_t PortTextToInt(std::string_view text);  // throws ConversionError
std::optional<std::int32_t> TryPortTextToInt(std::string_view text) noexcept;

}  // namespace korvane
