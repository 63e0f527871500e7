#include "core/parse_error_report.h"

namespace korvane {

// The texts are joined with nothing between them: a reason without a line break of its own
// runs on into "Line : ". Each "\r" is one carriage return, which message boxes show as a
// line break.
std::string ParseErrorMessage(std::string_view reason, long line, long linePos) {
    std::string message =
        "XML Parse Error.\rThis error generally appears when the XML tags you use are \r"
        " incorrect. For more information, refer the Parse.err file.\r\rError Msg: ";
    message.append(reason);
    message.append("Line : ").append(std::to_string(line));
    message.append("\r");
    message.append("LinePos : ").append(std::to_string(linePos));
    return message;
}

}  // namespace korvane
