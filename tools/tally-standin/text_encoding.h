#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace korvane::standin {

// How an answer goes on the wire. Tally answers a request sent in UTF-16 in UTF-16LE without a
// byte-order mark, and any other request in single bytes with "?" for every non-ASCII character.
enum class AnswerCharset { Utf16Le, Ascii };

// The Content-Type header value that goes with an answer in `charset`.
std::string_view ContentTypeFor(AnswerCharset charset);

// Appends `utf8` (valid UTF-8) to `out` in the wire form of `charset`.
void AppendEncoded(std::string_view utf8, AnswerCharset charset, std::string& out);
std::string Encode(std::string_view utf8, AnswerCharset charset);

// Appends the UTF-8 form of one code point.
void AppendUtf8(char32_t cp, std::string& out);

bool IsValidUtf8(std::string_view bytes);

// UTF-16LE bytes, with or without a byte-order mark, to UTF-8. Nothing when the length is odd,
// when a surrogate stands unpaired, or when a big-endian byte-order mark says it is not UTF-16LE.
std::optional<std::string> Utf16LeToUtf8(std::string_view bytes);

// Bytes of a single-byte Latin charset to UTF-8 (each byte taken as the code point of its value).
std::string Latin1ToUtf8(std::string_view bytes);

}  // namespace korvane::standin
