#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace korvane {

// Drops the bytes that XML 1.0 forbids (0-8, 11, 12, 14-31) and then removes every "&#4;"
// in one left-to-right pass over the filtered text.
std::string strip_invalid_xml(std::string_view text);

// The same cleaning into a caller's buffer of at least text.size() bytes (the result is never
// longer than the input); returns the length of the result. Lets a caller reuse one buffer.
std::size_t strip_invalid_xml_to(std::string_view text, char* out);

// The same cleaning for text that arrives in chunks cut anywhere: the concatenation of what
// Feed and Finish append equals strip_invalid_xml of the concatenated input. After Finish the
// cleaner starts afresh.
class StreamingCleaner {
public:
    void Feed(std::string_view chunk, std::string& out);
    void Finish(std::string& out);

private:
    // How many bytes of a possible start of "&#4;" ("&", "&#" or "&#4") are held back at a
    // chunk's end; the bytes themselves are known from the count.
    std::size_t held_ = 0;
};

}  // namespace korvane
