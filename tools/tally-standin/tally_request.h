#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "text_encoding.h"

namespace korvane::standin {

// A request body read the way Tally reads it: under the charset that its Content-Type declares.
struct DecodedBody {
    bool ok = false;             // false: the body does not match its declared charset
    AnswerCharset answer = AnswerCharset::Ascii;
    std::string text;            // UTF-8
};
DecodedBody DecodeRequestBody(std::string_view content_type, std::string_view body);

enum class RequestKind {
    Import,         // "Import Data" (the probe is one, with an empty TALLYMESSAGE)
    Export,         // "Export Data" of the report "TallyToTally"
    UnknownReport,  // "Export Data" of any other report
    Unknown,        // not an envelope Tally would act on
};

struct Envelope {
    RequestKind kind = RequestKind::Unknown;
    std::string report;                  // REPORTNAME as sent
    std::optional<std::string> from;     // SVFROMDATE text, if present
    std::optional<std::string> to;       // SVTODATE text, if present
    std::size_t import_objects = 0;      // elements inside the TALLYMESSAGE of an import
};
Envelope ReadEnvelope(std::string_view utf8);

// The fixed answers, as UTF-8 text before encoding.
std::string ImportAnswer(std::size_t ignored);
std::string NoCompanyAnswer(bool import);
std::string NoReportAnswer(std::string_view report);
std::string_view UnknownRequestAnswer();
std::string_view ServerRunningAnswer();
std::string_view InternalErrorPage();

}  // namespace korvane::standin
