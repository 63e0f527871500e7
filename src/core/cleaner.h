#pragma once
#include <string>
#include <string_view>

namespace korvane {

// Drops the bytes that XML 1.0 forbids (0-8, 11, 12, 14-31) and then removes every "&#4;"
// in one left-to-right pass over the filtered text.
std::string strip_invalid_xml(std::string_view text);

// The same cleaning for text that arrives in chunks cut anywhere: the concatenation of what
// Feed and Finish append equals strip_invalid_xml of the concatenated input.
class StreamingCleaner {
public:
    void Feed(std::string_view chunk, std::string& out);
    void Finish(std::string& out);

private:
    std::string pending_;  // a possible start of "&#4;" held back at a chunk's end
};

}  // namespace korvane
