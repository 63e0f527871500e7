#pragma once
#include <memory>
#include <string>
#include <string_view>

#include <libxml/tree.h>

namespace korvane {

struct XmlDocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using XmlDocument = std::unique_ptr<xmlDoc, XmlDocFree>;

struct ExportRequest {
    std::string text;      // the serialised document: the request to post (UTF-8)
    XmlDocument document;  // the document it was built in, handed to the caller
};

// Builds the "Export Data" request for the report "TallyToTally" with SVFROMDATE and SVTODATE
// appended to STATICVARIABLES, the texts exactly as typed (UTF-8).
// Throws XmlParseFailure when the template does not parse and FatalStopError("Unable to create
// DOM object") when no document can be made.
ExportRequest BuildExportRequest(std::string_view fromDate, std::string_view toDate);

// The same from any template: when it holds no STATICVARIABLES element the request is the
// template unchanged, without the period.
ExportRequest BuildExportRequestFrom(std::string_view templateText, std::string_view fromDate,
                                     std::string_view toDate);

}  // namespace korvane
