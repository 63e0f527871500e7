#pragma once
#include <cstdint>

namespace korvane {

// The Unicode character of a Windows-1252 byte. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the same value, as on Windows, so
// they survive a round trip.
char16_t Windows1252ToUnicode(unsigned char byte);

}  // namespace korvane
