#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qor {

// Time-outs in milliseconds: -2 waits without limit, -1 means the default.
inline constexpr int32_t IdTimeoutInfinite = -2;
inline constexpr int32_t IdTimeoutDefault = -1;

// True for a time-out that a wait accepts: IdTimeoutInfinite (no limit), 0 (a poll) or a positive
// limit. Any other negative value allows no wait at all.
inline bool IsWaitTimeout(int32_t ATimeout) {
  return ATimeout >= 0 || ATimeout == IdTimeoutInfinite;
}

// The end of a time-out that starts when it is made: a positive number of ms is a limit, anything
// else none.
class TIdDeadline {
 public:
  explicit TIdDeadline(int32_t ATimeout) noexcept;
  // The ms left, rounded up: 0 once the time is up; IdTimeoutInfinite without a limit.
  int32_t Left() const noexcept;

 private:
  bool FLimited;
  std::chrono::steady_clock::time_point FEnd;
};

inline int32_t MinOf(int32_t A, int32_t B) {
  return B < A ? B : A;
}
inline int32_t MaxOf(int32_t A, int32_t B) {
  return B > A ? B : A;
}

// Returns the text before the first ADelim in AInput (all of it when there is none); with ADelete,
// AInput keeps only what follows the delimiter (nothing when there is none).
std::string CutToken(std::string& AInput, const std::string& ADelim, bool ADelete = true,
                     bool ACaseSensitive = true);

// Lets AMilliseconds pass (a wait on CurrentStack with no descriptors), making the stack if needed.
void PauseMs(int32_t AMilliseconds);

// True on the thread that started the program.
bool IsMainThread();

// 1-based position of the first occurrence of ASubStr in the ASize bytes at ABuffer, 0 when absent.
int32_t FindInMemory(const std::string& ASubStr, const void* ABuffer, int32_t ASize);

}  // namespace qor
