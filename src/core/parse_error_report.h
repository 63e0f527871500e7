#pragma once
#include <string>
#include <string_view>

namespace korvane {

inline constexpr const char* ParseErrorFileName = "Parse.err";

// The message shown when an XML text does not parse: the fixed preamble, the parser's reason,
// "Line : ", the line, a line break, "LinePos : ", the position. "\r" stands for a line break.
std::string ParseErrorMessage(std::string_view reason, long line, long linePos);

}  // namespace korvane
