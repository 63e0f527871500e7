#pragma once
#include <string>
#include <string_view>

namespace korvane {

inline constexpr const char* ParseErrorFileName = "Parse.err";

// The message shown when an XML text does not parse: the fixed preamble, the parser's reason,
// "Line : ", the line, a line break, "LinePos : ", the position. Each line break is a single
// carriage return (code 13), which message boxes show as a new line.
std::string ParseErrorMessage(std::string_view reason, long line, long linePos);

}  // namespace korvane
