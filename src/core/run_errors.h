#pragma once
#include <stdexcept>
#include <string>

namespace korvane {

// A failure the export cannot survive: the message is shown, then the program ends.
class FatalStopError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An XML text that did not parse: the parser's reason with its line and column, and the text.
class XmlParseFailure : public std::runtime_error {
public:
    XmlParseFailure(std::string reason, long line, long linePos, std::string text)
        : std::runtime_error(reason), reason(std::move(reason)), line(line), linePos(linePos),
          text(std::move(text)) {}
    std::string reason;
    long line;
    long linePos;
    std::string text;
};

}  // namespace korvane
