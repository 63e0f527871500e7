#include "core/export_request.h"

#include <libxml/parser.h>
#include <libxml/xmlsave.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "core/run_errors.h"

namespace korvane {
namespace {

constexpr std::string_view kTemplateHead =
    "<ENVELOPE><HEADER><TALLYREQUEST>Export Data</TALLYREQUEST></HEADER><BODY><EXPORTDATA>"
    "<REQUESTDESC><STATICVARIABLES><SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT>"
    "<SVVOUCHERTYPE></SVVOUCHERTYPE></STATICVARIABLES>";
constexpr std::string_view kTemplateTail =
    "<REPORTNAME>TallyToTally</REPORTNAME></REQUESTDESC></EXPORTDATA></BODY></ENVELOPE>";

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

struct ParserContextFree {
    void operator()(xmlParserCtxt* c) const { xmlFreeParserCtxt(c); }
};
struct SaveBufferFree {
    void operator()(xmlBuffer* b) const { xmlBufferFree(b); }
};

// The first element of that name in document order, as "//NAME" selects it.
xmlNode* FindFirstElement(xmlNode* node, const char* name) {
    for (; node != nullptr; node = node->next) {
        if (node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, X(name))) return node;
        if (xmlNode* inner = FindFirstElement(node->children, name)) return inner;
    }
    return nullptr;
}

// Appends <name>text</name> as the last child. The text goes in as a text node, so the
// serialiser escapes '&' and '<'; an empty text gives an element without content.
void AppendTextElement(xmlDoc* doc, xmlNode* parent, const char* name, std::string_view text) {
    xmlNode* element = xmlNewDocNode(doc, nullptr, X(name), nullptr);
    if (element == nullptr) return;  // the element is left out; the build goes on
    xmlAddChild(parent, element);
    if (!text.empty()) {
        xmlNode* content = xmlNewDocTextLen(doc, reinterpret_cast<const xmlChar*>(text.data()),
                                            static_cast<int>(text.size()));
        if (content == nullptr) throw std::bad_alloc();
        xmlAddChild(parent->last, content);
    }
}

// The root element alone, in UTF-8, without an XML declaration: the request goes out as
// UTF-16, so a declaration naming UTF-8 would be false.
std::string Serialise(xmlDoc* doc) {
    std::unique_ptr<xmlBuffer, SaveBufferFree> buffer(xmlBufferCreate());
    if (!buffer) throw std::bad_alloc();
    xmlSaveCtxt* save = xmlSaveToBuffer(buffer.get(), "UTF-8", XML_SAVE_NO_DECL);
    if (save == nullptr) throw std::bad_alloc();
    const long written = xmlSaveTree(save, xmlDocGetRootElement(doc));
    const int closed = xmlSaveClose(save);
    if (written < 0 || closed < 0)
        throw std::runtime_error("the export request could not be serialised");
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                       static_cast<std::size_t>(xmlBufferLength(buffer.get())));
}

}  // namespace

ExportRequest BuildExportRequestFrom(std::string_view templateText, std::string_view fromDate,
                                     std::string_view toDate) {
    ExportRequest request;
    request.text.assign(templateText);

    std::unique_ptr<xmlParserCtxt, ParserContextFree> parser(xmlNewParserCtxt());
    if (!parser) throw FatalStopError("Unable to create DOM object");
    // No network, no external entities, and the parser's complaints kept off standard error.
    request.document.reset(xmlCtxtReadMemory(parser.get(), request.text.data(),
                                             static_cast<int>(request.text.size()), nullptr,
                                             "UTF-8", XML_PARSE_NONET | XML_PARSE_NOERROR |
                                                          XML_PARSE_NOWARNING));
    if (!request.document) {
        const xmlError* error = xmlCtxtGetLastError(parser.get());
        std::string reason = error && error->message ? error->message : "the text is not XML";
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
            reason.pop_back();
        throw XmlParseFailure(reason, error ? error->line : 0, error ? error->int2 : 0,
                              request.text);
    }

    xmlDoc* doc = request.document.get();
    xmlNode* statics = FindFirstElement(doc->children, "STATICVARIABLES");
    if (statics == nullptr) return request;  // the template as it stands, without the period

    AppendTextElement(doc, statics, "SVFROMDATE", fromDate);
    AppendTextElement(doc, statics, "SVTODATE", toDate);
    request.text = Serialise(doc);
    return request;
}

ExportRequest BuildExportRequest(std::string_view fromDate, std::string_view toDate) {
    std::string joined(kTemplateHead);
    joined.append(kTemplateTail);
    return BuildExportRequestFrom(joined, fromDate, toDate);
}

}  // namespace korvane
