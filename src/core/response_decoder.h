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
    void Finish(std::string& out);                       // throws std::runtime_error on a cut-off character that cannot be decoded
    std::uint64_t ReplacedCount() const;

private:
    // (state of the decoder: the implementer's choice)
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
