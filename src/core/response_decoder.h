#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace korvane {

// Turns the bytes of a Tally answer into Windows-1252 text, chunk by chunk. The encoding is
// taken from a byte-order mark, else from the charset of the Content-Type, else UTF-8. A
// character Windows-1252 cannot hold becomes '?' and is counted; bytes that are not valid
// UTF-8 are kept as Windows-1252 bytes.
class ResponseDecoder {
public:
    explicit ResponseDecoder(std::string_view contentType);
    void Feed(std::string_view bytes, std::string& out);  // appends
    // Ends the answer. Throws std::runtime_error on a cut-off character that cannot be decoded
    // (half a UTF-16 unit); a cut-off UTF-8 sequence is kept as bytes.
    void Finish(std::string& out);
    std::uint64_t ReplacedCount() const;

    enum class Encoding { Utf8, Utf16LE, Utf16BE, SingleByte };
    // The encoding named by the Content-Type's charset (UTF-8 when there is none or it is
    // unknown). Labels of the Latin single-byte sets all mean Windows-1252 here, as browsers
    // read them: an answer labelled ISO-8859-1 or US-ASCII keeps every byte as it is.
    static Encoding EncodingOfContentType(std::string_view contentType);

private:
    void DecodeBody(const unsigned char* p, std::size_t n, std::string& out);
    std::size_t DecodeUtf8(const unsigned char* p, std::size_t n, char* dst);
    template <bool bigEndian>
    std::size_t DecodeUtf16(const unsigned char* p, std::size_t n, char* dst);
    void PutCodePoint(char32_t cp, char*& dst);

    Encoding encoding_;
    bool encodingSettled_ = false;  // false while the first bytes might still be a byte-order mark
    std::string head_;              // bytes held back while looking for the byte-order mark

    // UTF-8: the lead byte and continuation bytes of a sequence cut by a chunk border.
    unsigned char pending_[4] = {};
    std::uint8_t pendingLength_ = 0;
    std::uint8_t pendingNeeded_ = 0;  // whole length of the pending sequence
    // UTF-16: an odd byte, and a high surrogate waiting for its low half.
    int oddByte_ = -1;
    char16_t highSurrogate_ = 0;

    std::uint64_t replaced_ = 0;
};

// Scans decoded text for the no-company tag <LINEERROR ID="1"> with a to z upper-cased, also
// across chunk borders; blind after the first NUL.
class NoCompanyScanner {
public:
    void Feed(std::string_view text);
    bool Found() const { return found_; }

private:
    std::string tail_;
    bool found_ = false;
    bool blind_ = false;
};

bool HasNoCompanyLineError(std::string_view text);

}  // namespace korvane
