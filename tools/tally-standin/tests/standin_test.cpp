#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "company.h"
#include "tally_date.h"
#include "tally_request.h"
#include "text_encoding.h"

extern char** environ;

namespace korvane::standin {
namespace {

using namespace std::string_literals;

// What the client's cleaner removes before parsing: control bytes and the "&#4;" reference.
std::string Cleaned(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, 4) == "&#4;") {
            i += 3;
        } else if (static_cast<unsigned char>(text[i]) >= 32 || text[i] == '\t' ||
                   text[i] == '\n' || text[i] == '\r') {
            out.push_back(text[i]);
        }
    }
    return out;
}

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

Doc Parse(std::string_view bytes, const char* encoding) {
    return Doc(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, encoding,
                             XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                 XML_PARSE_HUGE));
}

std::vector<std::string> XPathTexts(xmlDoc* doc, const char* path) {
    std::vector<std::string> out;
    std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> ctx(xmlXPathNewContext(doc),
                                                                         xmlXPathFreeContext);
    std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> res(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(path), ctx.get()),
        xmlXPathFreeObject);
    if (!res || res->nodesetval == nullptr) return out;
    for (int i = 0; i < res->nodesetval->nodeNr; ++i) {
        xmlChar* c = xmlNodeGetContent(res->nodesetval->nodeTab[i]);
        out.emplace_back(c != nullptr ? reinterpret_cast<const char*>(c) : "");
        xmlFree(c);
    }
    return out;
}

double XPathNumber(xmlDoc* doc, xmlNode* node, const char* path) {
    std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> ctx(xmlXPathNewContext(doc),
                                                                         xmlXPathFreeContext);
    ctx->node = node;
    std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> res(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(path), ctx.get()),
        xmlXPathFreeObject);
    return res ? xmlXPathCastToNumber(res.get()) : NAN;
}

Period P(const char* from, const char* to) {
    Period p;
    if (from != nullptr) p.from = ParseTallyDate(from);
    if (to != nullptr) p.to = ParseTallyDate(to);
    return p;
}

TEST(TallyDate, ReadsTheFormsTallyAccepts) {
    const struct {
        const char* text;
        int y, m, d;  // y == 0: not a date
    } cases[] = {
        {"1-4-2024", 2024, 4, 1},        {"01/04/2024", 2024, 4, 1},
        {"1.4.24", 2024, 4, 1},          {"1-Apr-2024", 2024, 4, 1},
        {"31-march-2025", 2025, 3, 31},  {" 31/3/2025 ", 2025, 3, 31},
        {"29-2-2024", 2024, 2, 29},      {"20240401", 2024, 4, 1},
        {"1/4-2024", 2024, 4, 1},        {"29-2-2023", 0, 0, 0},
        {"31-4-2024", 0, 0, 0},          {"32-1-2024", 0, 0, 0},
        {"1-13-2024", 0, 0, 0},          {"1-4", 0, 0, 0},
        {"1-4-202", 0, 0, 0},            {"1-4-2024x", 0, 0, 0},
        {"1 4 2024", 0, 0, 0},           {"1-Ap-2024", 0, 0, 0},
        {"", 0, 0, 0},                   {"20241301", 0, 0, 0},
    };
    for (const auto& c : cases) {
        const auto got = ParseTallyDate(c.text);
        if (c.y == 0) {
            EXPECT_FALSE(got) << c.text;
        } else {
            ASSERT_TRUE(got) << c.text;
            EXPECT_EQ(*got, DaysFromCivil(c.y, c.m, c.d)) << c.text;
        }
    }
    EXPECT_EQ(DayToYyyymmdd(DaysFromCivil(2025, 3, 9)), "20250309");
    EXPECT_EQ(DayToText(DaysFromCivil(2024, 4, 1)), "1-Apr-2024");
}

TEST(Company, VouchersSpreadOverTheYearAndPeriodsCountThem) {
    const Company c({1, 25, "Demo"});
    const struct {
        const char* from;
        const char* to;
        std::size_t count;
    } cases[] = {
        {nullptr, nullptr, 25},        {"1-4-2024", "31-3-2025", 25}, {"1-4-2024", "30-4-2024", 3},
        {"1-4-2024", "1-4-2024", 1},   {"2-4-2024", "14-4-2024", 0},  {"1-4-2025", nullptr, 0},
        {nullptr, "31-3-2024", 0},     {"1-5-2024", "1-4-2024", 0},   {"1-10-2024", nullptr, 12},
    };
    for (const auto& k : cases) {
        EXPECT_EQ(c.VouchersIn(P(k.from, k.to)), k.count)
            << (k.from ? k.from : "-") << ".." << (k.to ? k.to : "-");
    }
    // Months partition the year: every voucher falls in exactly one, for any size of book.
    for (const std::size_t n : {1u, 7u, 365u, 1000u}) {
        const Company big({3, n, "Demo"});
        std::size_t sum = 0;
        for (int m = 0; m < 12; ++m) {
            const int y = m < 9 ? 2024 : 2025;
            const int month = (m + 3) % 12 + 1;
            const DayNumber first = DaysFromCivil(y, month, 1);
            const DayNumber next = month == 12 ? DaysFromCivil(y + 1, 1, 1)
                                               : DaysFromCivil(y, month + 1, 1);
            sum += big.VouchersIn({first, next - 1});
        }
        EXPECT_EQ(sum, n);
    }
}

TEST(ExportAnswer, CleanedAnswerIsWellFormedInBothEncodingsAndKeepsItsQuirks) {
    const Company c({7, 40, "Shah & Shah's Stores"});
    const std::string utf8 = WholeExport(c, P("1-6-2024", "31-12-2024"));
    const std::size_t expected = c.VouchersIn(P("1-6-2024", "31-12-2024"));
    ASSERT_GT(expected, 5u);

    // Tally's quirks are there, and make the raw answer unparseable.
    for (const char* quirk : {"&#4; Primary", "&#4; Not Applicable", "<PARENTSTRUCTURE>\x03",
                              "<UDF:KORVANEBRANCHCODE DESC=\"`KorvaneBranchCode`\">",
                              "Sharma &amp; Sons", "D&apos;Souza", "Shah &amp; Shah&apos;s",
                              "<ALTERID> ", "<BANKALLOCATIONS.LIST>      </BANKALLOCATIONS.LIST>",
                              " <HEADER>\r\n  <TALLYREQUEST>Import Data</TALLYREQUEST>\r\n"}) {
        EXPECT_NE(utf8.find(quirk), std::string::npos) << quirk;
    }
    EXPECT_EQ(utf8.find('\n'), utf8.find("\r\n") + 1);
    EXPECT_FALSE(Parse(utf8, "UTF-8"));

    const std::string wide = Encode(utf8, AnswerCharset::Utf16Le);
    const std::string narrow = Encode(utf8, AnswerCharset::Ascii);
    ASSERT_EQ(wide.substr(0, 4), "<\0E\0"s);  // no byte-order mark
    for (const unsigned char b : narrow) ASSERT_LT(b, 0x80);
    EXPECT_NE(narrow.find("<CURRENCY NAME=\"?\""), std::string::npos);

    const auto cleaned_wide = Utf16LeToUtf8(wide);
    ASSERT_TRUE(cleaned_wide);
    EXPECT_EQ(*cleaned_wide, utf8);
    // The client decodes first and cleans the decoded text.
    for (const auto& [bytes, encoding] :
         {std::pair{Encode(Cleaned(utf8), AnswerCharset::Utf16Le), "UTF-16LE"},
          std::pair{Cleaned(narrow), "US-ASCII"}}) {
        SCOPED_TRACE(encoding);
        const Doc doc = Parse(std::string_view(bytes), encoding);
        ASSERT_TRUE(doc);
        EXPECT_EQ(XPathTexts(doc.get(), "//VOUCHER").size(), expected);
        EXPECT_EQ(XPathTexts(doc.get(), "/ENVELOPE/BODY/IMPORTDATA/REQUESTDESC/REPORTNAME"),
                  std::vector<std::string>{"All Masters"});
        for (const char* kind : {"CURRENCY", "GROUP", "LEDGER", "STOCKITEM", "UNIT", "GODOWN",
                                 "VOUCHERTYPE", "COSTCENTRE"}) {
            const std::string path = "//TALLYMESSAGE/"s + kind + "[@NAME and @RESERVEDNAME]";
            EXPECT_FALSE(XPathTexts(doc.get(), path.c_str()).empty()) << kind;
        }
        for (const std::string& d : XPathTexts(doc.get(), "//VOUCHER/DATE")) {
            EXPECT_GE(d, "20240601");
            EXPECT_LE(d, "20241231");
        }
    }
    // Names outside Windows-1252 and inside it survive in UTF-16 only.
    const Doc doc = Parse(Cleaned(utf8), "UTF-8");
    ASSERT_TRUE(doc);
    const auto ledgers = XPathTexts(doc.get(), "//LEDGER/@NAME");
    for (const char* name : {"Petty Cash \u20B9", "Caf\u00E9 Mumbai Pvt Ltd",
                             "\u0930\u093E\u092E \u091F\u094D\u0930\u0947\u0921\u0930\u094D\u0938"}) {
        EXPECT_NE(std::find(ledgers.begin(), ledgers.end(), name), ledgers.end()) << name;
    }
}

TEST(ExportAnswer, VouchersBalanceWithDebitsNegative) {
    const Company c({5, 60, "Demo"});
    const Doc doc = Parse(Cleaned(WholeExport(c, {})), "UTF-8");
    ASSERT_TRUE(doc);
    std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> ctx(
        xmlXPathNewContext(doc.get()), xmlXPathFreeContext);
    std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> vouchers(
        xmlXPathEvalExpression(BAD_CAST "//VOUCHER", ctx.get()), xmlXPathFreeObject);
    ASSERT_EQ(vouchers->nodesetval->nodeNr, 60);
    for (int i = 0; i < vouchers->nodesetval->nodeNr; ++i) {
        xmlNode* v = vouchers->nodesetval->nodeTab[i];
        const double total = XPathNumber(doc.get(), v,
                                         "sum(LEDGERENTRIES.LIST/AMOUNT | ALLLEDGERENTRIES.LIST/AMOUNT"
                                         " | ALLINVENTORYENTRIES.LIST/AMOUNT)");
        EXPECT_NEAR(total, 0.0, 0.001) << "voucher " << i;
        // Every debit (ISDEEMEDPOSITIVE Yes) carries a negative amount, every credit a positive one.
        EXPECT_EQ(XPathNumber(doc.get(), v,
                              "count(.//*[ISDEEMEDPOSITIVE='Yes' and number(AMOUNT) >= 0] |"
                              " .//*[ISDEEMEDPOSITIVE='No' and number(AMOUNT) <= 0])"),
                  0.0)
            << "voucher " << i;
    }
}

TEST(ExportAnswer, StreamedPiecesMatchTheWholeAndDependOnTheSeed) {
    const Company c({9, 30, "Demo"});
    const std::string whole = WholeExport(c, P("1-7-2024", "31-1-2025"));
    ExportStream stream(c, P("1-7-2024", "31-1-2025"));
    std::string pieces;
    std::size_t calls = 0;
    while (stream.Next(pieces, 100)) ++calls;
    EXPECT_TRUE(pieces == whole);
    EXPECT_GT(calls, 10u);
    EXPECT_TRUE(WholeExport(Company({9, 30, "Demo"}), {}) == WholeExport(c, {}));
    EXPECT_FALSE(WholeExport(Company({10, 30, "Demo"}), {}) == WholeExport(c, {}));
    // The malformed fault leaves a bare ampersand that no cleaning repairs.
    EXPECT_FALSE(Parse(Cleaned(WholeExport(c, {}, {true})), "UTF-8"));
}

TEST(RequestBody, ReadUnderItsDeclaredCharset) {
    const std::string text = "<ENVELOPE>\u20B9 caf\u00E9</ENVELOPE>";
    const std::string wide = Encode(text, AnswerCharset::Utf16Le);
    const struct {
        const char* name;
        const char* content_type;
        std::string body;
        AnswerCharset answer;
        std::optional<std::string> decoded;  // nothing: the body does not match its charset
    } cases[] = {
        {"utf-16", "text/xml;charset=utf-16", wide, AnswerCharset::Utf16Le, text},
        {"utf-16 with BOM, quoted label", "text/xml; charset=\"UTF-16\"", "\xFF\xFE"s + wide,
         AnswerCharset::Utf16Le, text},
        {"utf-16 of odd length", "text/xml;charset=utf-16", wide + "x", AnswerCharset::Utf16Le, {}},
        {"utf-16 unpaired surrogate", "text/xml;charset=utf-16", "\x00\xD8<\x00"s,
         AnswerCharset::Utf16Le, {}},
        {"utf-16 big-endian BOM", "text/xml;charset=utf-16", "\xFE\xFF\x00<"s,
         AnswerCharset::Utf16Le, {}},
        {"utf-8", "text/xml; charset=utf-8", text, AnswerCharset::Ascii, text},
        {"undeclared", "", text, AnswerCharset::Ascii, text},
        {"utf-16 body declared utf-8", "text/xml; charset=utf-8", wide, AnswerCharset::Ascii, {}},
        {"undeclared invalid utf-8", "text/xml", "<A>\xE9</A>", AnswerCharset::Ascii, {}},
        {"latin-1", "text/xml; charset=ISO-8859-1", "<A>caf\xE9</A>", AnswerCharset::Ascii,
         "<A>caf\u00E9</A>"},
    };
    for (const auto& c : cases) {
        const DecodedBody got = DecodeRequestBody(c.content_type, c.body);
        EXPECT_EQ(got.ok, c.decoded.has_value()) << c.name;
        EXPECT_EQ(got.answer, c.answer) << c.name;
        if (c.decoded) {
            EXPECT_EQ(got.text, *c.decoded) << c.name;
        }
    }
}

TEST(RequestBody, EnvelopesAreSortedLikeTallyDoes) {
    const std::string probe =
        "<ENVELOPE><HEADER><TALLYREQUEST>Import Data</TALLYREQUEST></HEADER><BODY><IMPORTDATA>"
        "<REQUESTDESC><REPORTNAME>All Masters</REPORTNAME></REQUESTDESC><REQUESTDATA>"
        "<TALLYMESSAGE xmlns:UDF=\"TallyUDF\"></TALLYMESSAGE></REQUESTDATA></IMPORTDATA></BODY>"
        "</ENVELOPE>";
    const auto exportOf = [](const std::string& report) {
        return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<ENVELOPE><HEADER><TALLYREQUEST>"
               "Export Data</TALLYREQUEST></HEADER><BODY><EXPORTDATA><REQUESTDESC>"
               "<STATICVARIABLES><SVEXPORTFORMAT>$$SysName:XML</SVEXPORTFORMAT><SVVOUCHERTYPE/>"
               "<SVFROMDATE>1-4-2024 </SVFROMDATE><SVTODATE>a&amp;b</SVTODATE></STATICVARIABLES>"
               "<REPORTNAME>" + report + "</REPORTNAME></REQUESTDESC></EXPORTDATA></BODY></ENVELOPE>";
    };
    Envelope e = ReadEnvelope(probe);
    EXPECT_EQ(e.kind, RequestKind::Import);
    EXPECT_EQ(e.import_objects, 0u);

    e = ReadEnvelope(exportOf("TallyToTally"));
    EXPECT_EQ(e.kind, RequestKind::Export);
    EXPECT_EQ(e.from, "1-4-2024 ");
    EXPECT_EQ(e.to, "a&b");

    e = ReadEnvelope(exportOf("Day Book"));
    EXPECT_EQ(e.kind, RequestKind::UnknownReport);
    EXPECT_EQ(NoReportAnswer(e.report),
              "<RESPONSE>\r\n <LINEERROR>Could not find Report &apos;Day Book&apos;!</LINEERROR>\r\n"
              "</RESPONSE>\r\n");

    for (const std::string bad : {"", "<ENVELOPE>", "<A><TALLYREQUEST>Export Data</TALLYREQUEST></A>",
                                  "<ENVELOPE><HEADER><TALLYREQUEST>Print</TALLYREQUEST></HEADER></ENVELOPE>"}) {
        EXPECT_EQ(ReadEnvelope(bad).kind, RequestKind::Unknown) << bad;
    }
}

// ---- The running server, over loopback ----

class Server {
public:
    explicit Server(std::vector<std::string> args) {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        args.insert(args.begin(), {TALLY_STANDIN_BIN, "--port", "0"});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, TALLY_STANDIN_BIN, &fa, nullptr, argv.data(), environ) != 0) {
            throw std::runtime_error("spawn");
        }
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
        close(out[0]);
        banner_ = line;
        const std::string prefix = "tally-standin listening on http://127.0.0.1:";
        if (line.rfind(prefix, 0) == 0) port_ = std::stoi(line.substr(prefix.size()));
    }
    ~Server() {
        if (pid_ > 0 && !stopped_) Stop();
    }
    int Stop() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        stopped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int port() const { return port_; }
    const std::string& banner() const { return banner_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    bool stopped_ = false;
    std::string banner_;
};

struct Reply {
    std::string head;  // status line and header fields
    std::string body;  // de-chunked
    bool complete = false;  // the whole body arrived and the connection ended cleanly
    bool reset = false;
};

Reply Exchange(int port, const std::string& request) {
    Reply r;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return r;
    }
    (void)!write(fd, request.data(), request.size());
    std::string raw;
    char buf[65536];
    for (;;) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            raw.append(buf, static_cast<std::size_t>(n));
        } else {
            r.reset = n < 0 && errno == ECONNRESET;
            break;
        }
    }
    close(fd);
    const std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) return r;
    r.head = raw.substr(0, end + 2);
    std::string_view rest = std::string_view(raw).substr(end + 4);
    if (r.head.find("Transfer-Encoding: chunked") == std::string::npos) {
        r.body = std::string(rest);
        const std::size_t at = r.head.find("Content-Length: ");
        r.complete = !r.reset && at != std::string::npos &&
                     std::stoul(r.head.substr(at + 16)) == r.body.size();
        return r;
    }
    for (;;) {
        const std::size_t eol = rest.find("\r\n");
        if (eol == std::string_view::npos) return r;
        const std::size_t size = std::stoul(std::string(rest.substr(0, eol)), nullptr, 16);
        rest.remove_prefix(eol + 2);
        if (size == 0) {
            r.complete = !r.reset && rest == "\r\n";
            return r;
        }
        if (rest.size() < size + 2) {
            r.body.append(rest);
            return r;
        }
        r.body.append(rest.substr(0, size));
        rest.remove_prefix(size + 2);
    }
}

std::string Post(const std::string& content_type, const std::string& body) {
    std::string req = "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!content_type.empty()) req += "Content-Type: " + content_type + "\r\n";
    return req + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string kExport =
    "<ENVELOPE><HEADER><TALLYREQUEST>Export Data</TALLYREQUEST></HEADER><BODY><EXPORTDATA>"
    "<REQUESTDESC><STATICVARIABLES><SVFROMDATE>1-4-2024</SVFROMDATE><SVTODATE>30.04.2024"
    "</SVTODATE></STATICVARIABLES><REPORTNAME>TallyToTally</REPORTNAME></REQUESTDESC>"
    "</EXPORTDATA></BODY></ENVELOPE>";

TEST(StandinServer, AnswersInTheEncodingOfTheRequest) {
    Server s({"--seed", "4", "--vouchers", "25"});
    ASSERT_GT(s.port(), 0) << s.banner();

    Reply r = Exchange(s.port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.body, "<RESPONSE>TallyPrime Server is Running</RESPONSE>");

    const std::string expected = WholeExport(Company({4, 25, "Korvane Demo Traders"}),
                                             P("1-4-2024", "30-4-2024"));
    r = Exchange(s.port(), Post("text/xml;charset=utf-16", Encode(kExport, AnswerCharset::Utf16Le)));
    EXPECT_TRUE(r.complete);
    EXPECT_NE(r.head.find("HTTP/1.1 200 OK\r\n"), std::string::npos);
    EXPECT_NE(r.head.find("Content-Type: text/xml; charset=utf-16\r\n"), std::string::npos);
    // Compared as a truth value: a difference of a megabyte would flood the log.
    EXPECT_TRUE(r.body == Encode(expected, AnswerCharset::Utf16Le)) << r.body.size();

    r = Exchange(s.port(), Post("text/xml; charset=utf-8", kExport));
    EXPECT_TRUE(r.complete);
    EXPECT_TRUE(r.body == Encode(expected, AnswerCharset::Ascii)) << r.body.size();

    // A body that does not match its declared charset, and one that is no envelope.
    for (const auto& [type, body] :
         {std::pair{"text/xml;charset=utf-16"s, kExport + "x"},
          std::pair{"text/xml;charset=utf-8"s, Encode(kExport, AnswerCharset::Utf16Le)},
          std::pair{""s, "hello"s}}) {
        r = Exchange(s.port(), Post(type, body));
        const AnswerCharset cs =
            type.find("utf-16") != std::string::npos ? AnswerCharset::Utf16Le : AnswerCharset::Ascii;
        EXPECT_EQ(r.body, Encode("<RESPONSE>Unknown Request, cannot be processed</RESPONSE>", cs))
            << type;
    }
    EXPECT_EQ(s.Stop(), 0);
}

TEST(StandinServer, FaultModes) {
    const std::string probe =
        "<ENVELOPE><HEADER><TALLYREQUEST>Import Data</TALLYREQUEST></HEADER><BODY><IMPORTDATA>"
        "<REQUESTDESC><REPORTNAME>All Masters</REPORTNAME></REQUESTDESC><REQUESTDATA>"
        "<TALLYMESSAGE xmlns:UDF=\"TallyUDF\"></TALLYMESSAGE></REQUESTDATA></IMPORTDATA></BODY>"
        "</ENVELOPE>";
    const struct {
        const char* fault;
        const char* probe_has;   // in the probe's answer
        const char* export_has;  // in the export's answer; "" for an empty body
        bool export_complete;
        const char* status;
    } cases[] = {
        {"no-company", "<LINEERROR ID=\"1\">Could not find Company ''</LINEERROR>",
         "<LINEERROR ID=\"1\">Could not find Company ''</LINEERROR>", true, "200"},
        {"no-addon", "<CREATED>0</CREATED>",
         "<LINEERROR>Could not find Report &apos;TallyToTally&apos;!</LINEERROR>", true, "200"},
        {"empty", "<CREATED>0</CREATED>", "", true, "200"},
        {"malformed", "<CREATED>0</CREATED>", "<LEDGER NAME=\"Sharma & Sons\"", true, "200"},
        {"http-500", "<html>", "<html>", true, "500"},
        {"reset", "<CREATED>0</CREATED>", "<ENVELOPE>", false, "200"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Server s({"--fault", c.fault});
        Reply r = Exchange(s.port(), Post("", probe));
        EXPECT_TRUE(r.complete);
        EXPECT_NE(r.body.find(c.probe_has), std::string::npos) << r.body;
        r = Exchange(s.port(), Post("", kExport));
        EXPECT_EQ(r.complete, c.export_complete);
        EXPECT_EQ(r.head.substr(0, 12), "HTTP/1.1 "s + c.status);
        if (*c.export_has == '\0') {
            EXPECT_TRUE(r.body.empty());
        } else {
            EXPECT_NE(r.body.find(c.export_has), std::string::npos) << r.body.substr(0, 300);
        }
        if (std::string_view(c.fault) == "no-addon" || std::string_view(c.fault) == "no-company") {
            EXPECT_EQ(r.body.find("<ENVELOPE>"), std::string::npos);
        }
        if (std::string_view(c.fault) == "reset") {
            EXPECT_TRUE(r.reset);
            EXPECT_GT(r.body.size(), 4000u);
        }
        EXPECT_EQ(s.Stop(), 0);
    }
}

// Requests that are not HTTP, or too large, get 400 and the server serves on.
TEST(StandinServer, BadRequestsGetStatus400AndTheServerServesOn) {
    Server s({});
    ASSERT_GT(s.port(), 0) << s.banner();
    const std::string bad[] = {
        "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Length: 12x\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n",
        "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
        "POST / HTTP/1.1\r\nno colon here\r\n\r\n",
        "HELLO\r\n\r\n",
    };
    for (const std::string& request : bad) {
        SCOPED_TRACE(request);
        const Reply r = Exchange(s.port(), request);
        EXPECT_EQ(r.head.substr(0, 12), "HTTP/1.1 400");
        const Reply after = Exchange(s.port(), "GET / HTTP/1.1\r\n\r\n");
        EXPECT_TRUE(after.complete);
        EXPECT_EQ(after.body, "<RESPONSE>TallyPrime Server is Running</RESPONSE>");
    }
    EXPECT_EQ(s.Stop(), 0);
}

// A stalled answer holds the connection until the client leaves; the server then serves on.
TEST(StandinServer, StallHoldsTheConnectionWithoutSending) {
    Server s({"--fault", "stall"});
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(s.port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const std::string req = Post("", kExport);
    ASSERT_EQ(write(fd, req.data(), req.size()), static_cast<ssize_t>(req.size()));
    std::size_t got = 0;
    char buf[65536];
    // Read what comes until nothing more arrives for a while; the connection stays open.
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 500) == 0) break;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        ASSERT_GT(n, 0) << "the server closed a stalled connection";
        got += static_cast<std::size_t>(n);
    }
    EXPECT_GT(got, 4000u);
    close(fd);
    const Reply r = Exchange(s.port(), "GET / HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(s.Stop(), 0);
}

}  // namespace
}  // namespace korvane::standin
