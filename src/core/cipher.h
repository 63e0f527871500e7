#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvane {

struct CipherKey {
    std::uint16_t K0;  // multiplier of the running-word update
    std::uint16_t K1;  // increment of the running-word update
    std::uint16_t K2;  // initial running word
};

// The fixed key of every export file. The head office needs the same three words.
extern const CipherKey ExportKey;

// Each byte is XORed with the high byte of a 16-bit running word W (starting at K2); then
// s = (plain byte + low byte of W) mod 256 and W = s * K0 + K1 mod 65536.
// The buffer operations return false and leave the target untouched when the lengths differ.
bool EncipherBuffer(const std::uint8_t* source, std::uint32_t sourceLength, std::uint8_t* target,
                    std::uint32_t targetLength, const CipherKey& key);
bool DecipherBuffer(const std::uint8_t* source, std::uint32_t sourceLength, std::uint8_t* target,
                    std::uint32_t targetLength, const CipherKey& key);
// A fresh text of the input's length (texts of any size, also beyond 4 GiB).
std::string CipherString(std::string_view text, const CipherKey& key, bool encipher);
std::string EncipherString(std::string_view text, const CipherKey& key);

// Enciphers or deciphers a stream chunk by chunk; the running word carries across chunks, so
// the output equals the one-shot form on the concatenated input.
class StreamCipher {
public:
    StreamCipher(const CipherKey& key, bool encipher);
    // Writes size bytes of output to target (which must not overlap source).
    void Process(const std::uint8_t* source, std::size_t size, std::uint8_t* target);
    void Process(std::string_view chunk, std::string& out);  // appends to out

private:
    CipherKey key_;
    bool encipher_;
    std::uint16_t word_;
};

}  // namespace korvane
