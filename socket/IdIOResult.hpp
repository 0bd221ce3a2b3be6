#pragma once

#include <cstdint>

namespace qor {

// The outcome of one receive, send or wait of a transport. The error number is taken from the system
// right at the call that failed and travels with the outcome, so nothing that runs afterwards (idle
// processing, a close, an intercept) can change it.
struct TIdIOResult {
  // Bytes moved; for a receive 0 means the peer has closed; for a wait 1 means readable; -1 on failure.
  int32_t Count = 0;
  // The system error number of a failure; 0 otherwise.
  int32_t Error = 0;
  // True when the time ran out with nothing received or readable (Count is then 0).
  bool TimedOut = false;

  bool Failed() const noexcept { return Count == -1; }

  static constexpr TIdIOResult Moved(int32_t ACount) noexcept { return {ACount, 0, false}; }
  static constexpr TIdIOResult Failure(int32_t AError) noexcept { return {-1, AError, false}; }
  static constexpr TIdIOResult Expired() noexcept { return {0, 0, true}; }
};

}  // namespace qor
