#pragma once
#include <cstdint>

namespace korvane {

// Outcome of one exchange with Tally.
inline constexpr std::int32_t TALLY_OK = 0;             // answered, without the no-company line error
inline constexpr std::int32_t TALLY_NO_COMPANY = -1;    // answered with the no-company line error
inline constexpr std::int32_t TALLY_UNREACHABLE = 10061; // the exchange failed, whatever the cause

}  // namespace korvane
