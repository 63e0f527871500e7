#include "tally_request.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace korvane::standin {
namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// The charset parameter of a Content-Type value, lower-cased and unquoted; empty when absent.
std::string CharsetOf(std::string_view content_type) {
    const std::string lower = Lower(content_type);
    std::size_t at = 0;
    while ((at = lower.find("charset", at)) != std::string::npos) {
        std::size_t p = at + 7;
        while (p < lower.size() && lower[p] == ' ') ++p;
        if (p < lower.size() && lower[p] == '=') {
            ++p;
            std::size_t end = lower.find(';', p);
            std::string_view value = Trim(std::string_view(lower).substr(p, end - p));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            return std::string(value);
        }
        at = p;
    }
    return {};
}

struct DocDeleter {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};

bool NameIs(const xmlNode* n, const char* name) {
    return n->type == XML_ELEMENT_NODE && n->ns == nullptr &&
           xmlStrcmp(n->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

const xmlNode* FindElement(const xmlNode* n, const char* name) {
    for (; n != nullptr; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        if (NameIs(n, name)) return n;
        if (const xmlNode* found = FindElement(n->children, name)) return found;
    }
    return nullptr;
}

std::string TextOf(const xmlNode* n) {
    xmlChar* content = xmlNodeGetContent(n);
    std::string out = content != nullptr ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return out;
}

std::size_t CountImportObjects(const xmlNode* n) {
    std::size_t count = 0;
    for (; n != nullptr; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        if (NameIs(n, "TALLYMESSAGE")) {
            for (const xmlNode* c = n->children; c != nullptr; c = c->next) {
                if (c->type == XML_ELEMENT_NODE) ++count;
            }
        } else {
            count += CountImportObjects(n->children);
        }
    }
    return count;
}

}  // namespace

DecodedBody DecodeRequestBody(std::string_view content_type, std::string_view body) {
    DecodedBody out;
    const std::string charset = CharsetOf(content_type);
    if (charset == "utf-16" || charset == "utf-16le" || charset == "unicode") {
        out.answer = AnswerCharset::Utf16Le;
        auto text = Utf16LeToUtf8(body);
        // A NUL character means the body was not UTF-16 text after all.
        if (!text || text->find('\0') != std::string::npos) return out;
        out.text = std::move(*text);
        out.ok = true;
        return out;
    }
    out.answer = AnswerCharset::Ascii;
    // NUL bytes in a body declared single-byte or UTF-8: a UTF-16 body under the wrong label.
    if (body.find('\0') != std::string_view::npos) return out;
    if (charset == "iso-8859-1" || charset == "latin1" || charset == "windows-1252" ||
        charset == "cp1252") {
        out.text = Latin1ToUtf8(body);
    } else {
        if (!IsValidUtf8(body)) return out;
        out.text = std::string(body);
    }
    out.ok = true;
    return out;
}

Envelope ReadEnvelope(std::string_view utf8) {
    Envelope env;
    // The decoded text is UTF-8 whatever its XML declaration says; no network, no entities.
    std::unique_ptr<xmlDoc, DocDeleter> doc(
        xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8",
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc) return env;
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    if (root == nullptr || !NameIs(root, "ENVELOPE")) return env;
    const xmlNode* request = FindElement(root->children, "TALLYREQUEST");
    if (request == nullptr) return env;
    const std::string verb = Lower(Trim(TextOf(request)));
    if (const xmlNode* r = FindElement(root->children, "REPORTNAME")) env.report = TextOf(r);
    if (const xmlNode* f = FindElement(root->children, "SVFROMDATE")) env.from = TextOf(f);
    if (const xmlNode* t = FindElement(root->children, "SVTODATE")) env.to = TextOf(t);
    if (verb == "import data" || verb == "import") {
        env.kind = RequestKind::Import;
        env.import_objects = CountImportObjects(root->children);
    } else if (verb == "export data" || verb == "export") {
        env.kind = Lower(Trim(env.report)) == "tallytotally" ? RequestKind::Export
                                                             : RequestKind::UnknownReport;
    }
    return env;
}

std::string ImportAnswer(std::size_t ignored) {
    std::string s = "<RESPONSE>\r\n <CREATED>0</CREATED>\r\n <ALTERED>0</ALTERED>\r\n"
                    " <DELETED>0</DELETED>\r\n <LASTVCHID>0</LASTVCHID>\r\n <LASTMID>0</LASTMID>\r\n"
                    " <COMBINED>0</COMBINED>\r\n <IGNORED>";
    s += std::to_string(ignored);
    s += "</IGNORED>\r\n <ERRORS>0</ERRORS>\r\n <CANCELLED>0</CANCELLED>\r\n</RESPONSE>\r\n";
    return s;
}

std::string NoCompanyAnswer(bool import) {
    std::string s = "<RESPONSE>\r\n <LINEERROR ID=\"1\">Could not find Company ''</LINEERROR>\r\n";
    if (import) {
        s += " <CREATED>0</CREATED>\r\n <ALTERED>0</ALTERED>\r\n <DELETED>0</DELETED>\r\n"
             " <LASTVCHID>0</LASTVCHID>\r\n <LASTMID>0</LASTMID>\r\n <COMBINED>0</COMBINED>\r\n"
             " <IGNORED>0</IGNORED>\r\n <ERRORS>1</ERRORS>\r\n <CANCELLED>0</CANCELLED>\r\n";
    }
    s += "</RESPONSE>\r\n";
    return s;
}

std::string NoReportAnswer(std::string_view report) {
    std::string s = "<RESPONSE>\r\n <LINEERROR>Could not find Report &apos;";
    for (const char c : report) {
        switch (c) {
            case '&': s += "&amp;"; break;
            case '<': s += "&lt;"; break;
            case '>': s += "&gt;"; break;
            case '\'': s += "&apos;"; break;
            default: s.push_back(c);
        }
    }
    s += "&apos;!</LINEERROR>\r\n</RESPONSE>\r\n";
    return s;
}

std::string_view UnknownRequestAnswer() {
    return "<RESPONSE>Unknown Request, cannot be processed</RESPONSE>";
}

std::string_view ServerRunningAnswer() { return "<RESPONSE>TallyPrime Server is Running</RESPONSE>"; }

std::string_view InternalErrorPage() {
    return "<!DOCTYPE html>\r\n<html><head><title>500 Internal Server Error</title></head>\r\n"
           "<body><h1>Internal Server Error</h1>\r\n"
           "<p>The gateway could not complete the request to the upstream server.</p>\r\n"
           "</body></html>\r\n";
}

}  // namespace korvane::standin
