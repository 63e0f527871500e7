#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace korvane {

// Checks a cleaned Tally answer while it arrives: is it well-formed XML, and how many elements
// named exactly ENVELOPE and VOUCHER (no prefix, letter case as written) does it hold at any
// depth. The text is Windows-1252; whatever its XML declaration says, it is read byte for byte
// as Latin-1, which accepts the same bytes and gives the same structure and positions. The
// parser itself reads UTF-8: Feed widens the text first; a caller on another thread may widen
// with WidenLatin1 and hand over the result with FeedWidened, so that the parsing thread does
// no more work than a plain parse of UTF-8 text.
//
// The parser is hardened against hostile answers: it never touches the network or a file, and
// a DOCTYPE, an entity declaration or a reference to an entity it does not know stops it with
// a parse error, so no entity can be expanded at all.
class XmlAnswerCheck {
public:
    XmlAnswerCheck();
    ~XmlAnswerCheck();
    XmlAnswerCheck(const XmlAnswerCheck&) = delete;
    XmlAnswerCheck& operator=(const XmlAnswerCheck&) = delete;

    // Parses the next piece. Returns false once the text is known not to be well-formed; later
    // pieces are then ignored.
    bool Feed(std::string_view chunk);
    // The same for a piece that went through WidenLatin1.
    bool FeedWidened(std::string_view utf8);

    // True when no byte is above 127; such text needs no widening.
    static bool IsAscii(std::string_view text);
    // Writes the text with every byte above 127 as the UTF-8 form of the same code; `out` must
    // have room for twice the text. Returns the number of bytes written.
    static std::size_t WidenLatin1(std::string_view text, char* out);
    // Ends the text. Returns true when the whole text was well-formed.
    bool Finish();

    bool Failed() const;
    std::uint64_t EnvelopeCount() const;
    std::uint64_t VoucherCount() const;

    // The first error: the parser's own message (its trailing line break kept), line and column.
    const std::string& ErrorReason() const;
    long ErrorLine() const;
    long ErrorColumn() const;

    struct State;  // the parser context and what it found; opaque

private:
    std::unique_ptr<State> state_;
};

}  // namespace korvane
