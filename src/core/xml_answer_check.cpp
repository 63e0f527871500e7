#include "core/xml_answer_check.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace korvane {

struct XmlAnswerCheck::State {
    xmlParserCtxtPtr ctxt = nullptr;
    std::uint64_t envelopes = 0;
    std::uint64_t vouchers = 0;
    bool failed = false;
    bool finished = false;
    std::string reason;
    long line = 0;
    long column = 0;

    void Fail(std::string why, long atLine, long atColumn) {
        if (failed) return;
        failed = true;
        reason = std::move(why);
        line = atLine;
        column = atColumn;
    }

    // Stops the parser at a construct that an answer has no business holding (a document type,
    // a declaration, an external reference). Nothing of it is read, fetched or expanded.
    void Refuse(const char* what) {
        long atLine = 0;
        long atColumn = 0;
        if (ctxt != nullptr && ctxt->input != nullptr) {
            atLine = ctxt->input->line;
            atColumn = ctxt->input->col;
        }
        Fail(std::string(what) + " is not allowed in a Tally answer\n", atLine, atColumn);
        if (ctxt != nullptr) xmlStopParser(ctxt);
    }
};

namespace {

using State = XmlAnswerCheck::State;

State& Of(void* userData) { return *static_cast<State*>(userData); }

void OnStartElement(void* userData, const xmlChar* localName, const xmlChar* prefix,
                    const xmlChar* /*uri*/, int /*nbNamespaces*/, const xmlChar** /*namespaces*/,
                    int /*nbAttributes*/, int /*nbDefaulted*/, const xmlChar** /*attributes*/) {
    // Only the exact, unprefixed names count: "voucher" or "X:VOUCHER" are other elements.
    if (prefix != nullptr) return;
    const char* name = reinterpret_cast<const char*>(localName);
    if (name[0] == 'V' && std::strcmp(name, "VOUCHER") == 0) {
        ++Of(userData).vouchers;
    } else if (name[0] == 'E' && std::strcmp(name, "ENVELOPE") == 0) {
        ++Of(userData).envelopes;
    }
}

void OnInternalSubset(void* userData, const xmlChar*, const xmlChar*, const xmlChar*) {
    Of(userData).Refuse("A document type declaration");
}
void OnExternalSubset(void* userData, const xmlChar*, const xmlChar*, const xmlChar*) {
    Of(userData).Refuse("An external document type");
}
void OnEntityDecl(void* userData, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
    Of(userData).Refuse("An entity declaration");
}
void OnUnparsedEntityDecl(void* userData, const xmlChar*, const xmlChar*, const xmlChar*,
                          const xmlChar*) {
    Of(userData).Refuse("An entity declaration");
}
void OnNotationDecl(void* userData, const xmlChar*, const xmlChar*, const xmlChar*) {
    Of(userData).Refuse("A notation declaration");
}
void OnAttributeDecl(void* userData, const xmlChar*, const xmlChar*, int, int, const xmlChar*,
                     xmlEnumerationPtr tree) {
    xmlFreeEnumeration(tree);  // the handler owns it
    Of(userData).Refuse("An attribute declaration");
}
void OnElementDecl(void* userData, const xmlChar*, int, xmlElementContentPtr) {
    Of(userData).Refuse("An element declaration");
}
xmlParserInputPtr OnResolveEntity(void* userData, const xmlChar*, const xmlChar*) {
    Of(userData).Refuse("An external reference");
    return nullptr;
}
// The five predefined entities never reach these: the parser answers them itself. Any other
// name is unknown (declarations are refused), which the parser reports as a fatal error.
xmlEntityPtr OnGetEntity(void*, const xmlChar*) { return nullptr; }
xmlEntityPtr OnGetParameterEntity(void*, const xmlChar*) { return nullptr; }

void OnError(void* userData, xmlErrorPtr error) {
    if (error == nullptr || error->level < XML_ERR_ERROR) return;  // warnings do not count
    // A stop the check asked for itself has its reason already.
    if (error->code == XML_ERR_USER_STOP) return;
    Of(userData).Fail(error->message != nullptr ? error->message : "Unknown XML error\n",
                      error->line, error->int2);
}

xmlSAXHandler MakeHandler() {
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = OnStartElement;
    sax.internalSubset = OnInternalSubset;
    sax.externalSubset = OnExternalSubset;
    sax.entityDecl = OnEntityDecl;
    sax.unparsedEntityDecl = OnUnparsedEntityDecl;
    sax.notationDecl = OnNotationDecl;
    sax.attributeDecl = OnAttributeDecl;
    sax.elementDecl = OnElementDecl;
    sax.resolveEntity = OnResolveEntity;
    sax.getEntity = OnGetEntity;
    sax.getParameterEntity = OnGetParameterEntity;
    sax.serror = OnError;
    return sax;
}

// Hands the parser at most this much at a time, so that the int of its interface never
// overflows whatever the caller passes.
constexpr std::size_t MaxPiece = std::size_t{1} << 30;

}  // namespace

XmlAnswerCheck::XmlAnswerCheck() : state_(std::make_unique<State>()) {
    xmlInitParser();
    xmlSAXHandler sax = MakeHandler();  // copied into the context
    state_->ctxt = xmlCreatePushParserCtxt(&sax, state_.get(), nullptr, 0, nullptr);
    if (state_->ctxt == nullptr) throw std::bad_alloc();
    // No network, no DTD loading, no entity substitution (XML_PARSE_NOENT left out on purpose),
    // and the declared encoding is ignored: the parser always gets the widened text as UTF-8.
    // (A byte-order mark or the like cannot occur in widened text without NULs, which the
    // cleaner removed, so the parser's own guess from the first bytes is always UTF-8 too.)
    xmlCtxtUseOptions(state_->ctxt, XML_PARSE_NONET | XML_PARSE_IGNORE_ENC);
}

bool XmlAnswerCheck::IsAscii(std::string_view text) {
    std::uint64_t high = 0;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        high |= word;
    }
    for (; i < text.size(); ++i) high |= static_cast<unsigned char>(text[i]);
    return (high & 0x8080808080808080ULL) == 0;
}

std::size_t XmlAnswerCheck::WidenLatin1(std::string_view text, char* out) {
    const char* in = text.data();
    const std::size_t n = text.size();
    char* p = out;
    std::size_t i = 0;
    while (i < n) {
        // Runs of plain ASCII, the bulk of an answer, are copied eight bytes at a time.
        for (; i + 8 <= n; i += 8, p += 8) {
            std::uint64_t word;
            std::memcpy(&word, in + i, 8);
            if ((word & 0x8080808080808080ULL) != 0) break;
            std::memcpy(p, &word, 8);
        }
        for (const std::size_t end = std::min(n, i + 8); i < end; ++i) {
            const auto b = static_cast<unsigned char>(in[i]);
            if (b < 0x80) {
                *p++ = static_cast<char>(b);
            } else {
                *p++ = static_cast<char>(0xC0 | (b >> 6));
                *p++ = static_cast<char>(0x80 | (b & 0x3F));
            }
        }
    }
    return static_cast<std::size_t>(p - out);
}

bool XmlAnswerCheck::Feed(std::string_view chunk) {
    if (IsAscii(chunk)) return FeedWidened(chunk);
    std::string widened(2 * chunk.size(), '\0');
    widened.resize(WidenLatin1(chunk, widened.data()));
    return FeedWidened(widened);
}

XmlAnswerCheck::~XmlAnswerCheck() {
    if (state_->ctxt != nullptr) xmlFreeParserCtxt(state_->ctxt);
}

bool XmlAnswerCheck::FeedWidened(std::string_view chunk) {
    State& s = *state_;
    while (!s.failed && !s.finished && !chunk.empty()) {
        const std::size_t n = std::min(chunk.size(), MaxPiece);
        const int rc = xmlParseChunk(s.ctxt, chunk.data(), static_cast<int>(n), 0);
        if (rc != 0 && !s.failed) {
            const xmlError* last = xmlCtxtGetLastError(s.ctxt);
            s.Fail(last != nullptr && last->message != nullptr ? last->message
                                                               : "Unknown XML error\n",
                   last != nullptr ? last->line : 0, last != nullptr ? last->int2 : 0);
        }
        chunk.remove_prefix(n);
    }
    if (!s.failed && !s.ctxt->wellFormed) s.Fail("Unknown XML error\n", 0, 0);
    return !s.failed;
}

bool XmlAnswerCheck::Finish() {
    State& s = *state_;
    if (!s.failed && !s.finished) {
        s.finished = true;
        const int rc = xmlParseChunk(s.ctxt, nullptr, 0, 1);
        if (!s.failed && (rc != 0 || !s.ctxt->wellFormed)) {
            const xmlError* last = xmlCtxtGetLastError(s.ctxt);
            s.Fail(last != nullptr && last->message != nullptr ? last->message
                                                               : "Unknown XML error\n",
                   last != nullptr ? last->line : 0, last != nullptr ? last->int2 : 0);
        }
    }
    return !s.failed;
}

bool XmlAnswerCheck::Failed() const { return state_->failed; }
std::uint64_t XmlAnswerCheck::EnvelopeCount() const { return state_->envelopes; }
std::uint64_t XmlAnswerCheck::VoucherCount() const { return state_->vouchers; }
const std::string& XmlAnswerCheck::ErrorReason() const { return state_->reason; }
long XmlAnswerCheck::ErrorLine() const { return state_->line; }
long XmlAnswerCheck::ErrorColumn() const { return state_->column; }

}  // namespace korvane
