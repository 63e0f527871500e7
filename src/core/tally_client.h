#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/tally_result.h"

namespace korvane {

// The 8-bit (Windows-1252) text of the last answer collected by PostToTally.
extern std::string TallyResponse;

// Receives a Tally answer while it arrives, already decoded to Windows-1252 text.
class TallyAnswerConsumer {
public:
    virtual ~TallyAnswerConsumer() = default;
    // A piece of the decoded answer. An exception thrown here aborts the transfer and is
    // rethrown by PostToTallyStreaming once the connection is closed.
    virtual void OnText(std::string_view windows1252Text) = 0;
    // Called now and then with the raw bytes received so far (also while nothing arrives, about
    // once a second), so a window can keep painting. An exception thrown here aborts the
    // transfer like one from OnText: the way to give up on a server that stopped sending.
    virtual void OnProgress(std::uint64_t /*bytesReceived*/) {}
};

struct TallyExchangeResult {
    std::int32_t code = TALLY_OK;
    std::uint64_t bytesReceived = 0;      // raw body bytes
    std::uint64_t replacedCharacters = 0; // characters Windows-1252 cannot hold, written as '?'
    std::string failure;                  // why the exchange failed (for logs and tests only)
};

// Posts the envelope (UTF-8 text) as UTF-16LE to "http://" + address + ":" + port, streams the
// decoded answer to the consumer and classifies it. Every failure of the exchange gives
// TALLY_UNREACHABLE; the consumer may then have seen part of an answer, which the caller drops.
TallyExchangeResult PostToTallyStreaming(std::string_view envelopeUtf8, std::string_view address,
                                         std::int32_t port, TallyAnswerConsumer& consumer);

// Called now and then with the raw bytes received so far, also while Tally keeps the answer
// back, so that a window can keep painting. Must not throw.
using TallyProgress = std::function<void(std::uint64_t bytesReceived)>;

// Collects the whole answer into TallyResponse (emptied first, and left empty on failure).
std::int32_t PostToTally(std::string_view envelopeUtf8, std::string_view address,
                         std::int32_t port, const TallyProgress& progress = {});

// "http://" + address + ":" + port in decimal; the address ends at its first NUL, as the
// zero-terminated text it comes from.
std::string TallyUrl(std::string_view address, std::int32_t port);

}  // namespace korvane
