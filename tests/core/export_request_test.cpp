#include "core/export_request.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <string>
#include <vector>

#include "core/run_errors.h"

namespace korvane {
namespace {

struct Element {
    std::string name;
    std::string text;
    bool hasChildren;
};

// The request parsed back: the children of the element named parentName.
std::vector<Element> ChildrenOf(const std::string& request, const char* parentName) {
    XmlDocument doc(xmlReadMemory(request.data(), static_cast<int>(request.size()), nullptr,
                                  "UTF-8", XML_PARSE_NONET));
    EXPECT_TRUE(doc) << "request does not parse: " << request;
    std::vector<Element> out;
    if (!doc) return out;
    std::vector<xmlNode*> stack{xmlDocGetRootElement(doc.get())};
    while (!stack.empty()) {
        xmlNode* n = stack.back();
        stack.pop_back();
        if (xmlStrEqual(n->name, reinterpret_cast<const xmlChar*>(parentName))) {
            for (xmlNode* c = n->children; c != nullptr; c = c->next) {
                if (c->type != XML_ELEMENT_NODE) continue;
                xmlChar* content = xmlNodeGetContent(c);
                out.push_back({reinterpret_cast<const char*>(c->name),
                               content ? reinterpret_cast<const char*>(content) : "",
                               c->children != nullptr});
                xmlFree(content);
            }
            return out;
        }
        for (xmlNode* c = n->children; c != nullptr; c = c->next)
            if (c->type == XML_ELEMENT_NODE) stack.push_back(c);
    }
    return out;
}

std::vector<std::string> Names(const std::vector<Element>& elements) {
    std::vector<std::string> names;
    for (const Element& e : elements) names.push_back(e.name);
    return names;
}

TEST(ExportRequest, AppendsThePeriodAfterTheVoucherTypeInOrder) {
    ExportRequest r = BuildExportRequest("1/4/2023", "31/3/2024");
    ASSERT_TRUE(r.document);
    EXPECT_EQ(
        Names(ChildrenOf(r.text, "STATICVARIABLES")),
        (std::vector<std::string>{"SVEXPORTFORMAT", "SVVOUCHERTYPE", "SVFROMDATE", "SVTODATE"}));
    EXPECT_EQ(Names(ChildrenOf(r.text, "REQUESTDESC")),
              (std::vector<std::string>{"STATICVARIABLES", "REPORTNAME"}));
    EXPECT_EQ(Names(ChildrenOf(r.text, "ENVELOPE")), (std::vector<std::string>{"HEADER", "BODY"}));
    auto statics = ChildrenOf(r.text, "STATICVARIABLES");
    EXPECT_EQ(statics[0].text, "$$SysName:XML");
    EXPECT_EQ(statics[2].text, "1/4/2023");
    EXPECT_EQ(statics[3].text, "31/3/2024");
    EXPECT_EQ(ChildrenOf(r.text, "HEADER")[0].text, "Export Data");
    EXPECT_EQ(ChildrenOf(r.text, "REQUESTDESC")[1].text, "TallyToTally");
    // Sent as UTF-16, so it must not claim another encoding.
    EXPECT_EQ(r.text.find("<?xml"), std::string::npos);
    EXPECT_EQ(r.text.rfind("<ENVELOPE>", 0), 0u);
    // The document handed over holds the finished request.
    xmlNode* root = xmlDocGetRootElement(r.document.get());
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(root->name), "ENVELOPE");
}

TEST(ExportRequest, FieldTextsGoOutExactlyAsTyped) {
    const struct {
        std::string from, to;
    } cases[] = {
        {"1/4/2023 ", " 31/3/2024"},          // blanks kept
        {"", "31-3-2024"},                    // empty gives an element without text
        {"1 & 2 < 3 > 0", "\"quoted\" 'x'"},  // reserved characters escaped by the serialiser
        {"1.4.2023", "\xC3\xA9t\xC3\xA9 \xE2\x82\xB9"},  // non-ASCII stays UTF-8 text
    };
    for (const auto& c : cases) {
        ExportRequest r = BuildExportRequest(c.from, c.to);
        auto statics = ChildrenOf(r.text, "STATICVARIABLES");
        ASSERT_EQ(statics.size(), 4u) << r.text;
        EXPECT_EQ(statics[2].name, "SVFROMDATE");
        EXPECT_EQ(statics[2].text, c.from) << r.text;
        EXPECT_EQ(statics[2].hasChildren, !c.from.empty());
        EXPECT_EQ(statics[3].text, c.to) << r.text;
    }
    std::string escaped = BuildExportRequest("a&b", "<").text;
    EXPECT_NE(escaped.find("<SVFROMDATE>a&amp;b</SVFROMDATE>"), std::string::npos) << escaped;
    EXPECT_NE(escaped.find("<SVTODATE>&lt;</SVTODATE>"), std::string::npos) << escaped;
}

TEST(ExportRequest, OtherTemplates) {
    // Without STATICVARIABLES the template itself is the request.
    const std::string bare = "<ENVELOPE><BODY>x</BODY></ENVELOPE>";
    ExportRequest r = BuildExportRequestFrom(bare, "1/4/2023", "31/3/2024");
    EXPECT_EQ(r.text, bare);
    EXPECT_TRUE(r.document);
    // A template that does not parse reports where and what.
    try {
        BuildExportRequestFrom("<ENVELOPE>\n<A></B></ENVELOPE>", "1", "2");
        FAIL() << "no exception";
    } catch (const XmlParseFailure& e) {
        EXPECT_EQ(e.text, "<ENVELOPE>\n<A></B></ENVELOPE>");
        EXPECT_EQ(e.line, 2);
        EXPECT_GT(e.linePos, 0);
        EXPECT_FALSE(e.reason.empty());
        EXPECT_NE(e.reason.back(), '\n');
    }
    // An external entity is never fetched or expanded.
    const std::string withEntity =
        "<!DOCTYPE E [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><ENVELOPE><STATICVARIABLES>&x;"
        "</STATICVARIABLES></ENVELOPE>";
    ExportRequest e = BuildExportRequestFrom(withEntity, "1", "2");
    EXPECT_EQ(e.text.find("root:"), std::string::npos) << e.text;
}

}  // namespace
}  // namespace korvane
