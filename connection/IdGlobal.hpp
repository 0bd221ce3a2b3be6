#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace qor {

inline int32_t MinOf(int32_t A, int32_t B) {
  return B < A ? B : A;
}
inline int32_t MaxOf(int32_t A, int32_t B) {
  return B > A ? B : A;
}

// Time-outs in milliseconds: -2 waits without limit, -1 means the default.
inline constexpr int32_t IdTimeoutInfinite = -2;
inline constexpr int32_t IdTimeoutDefault = -1;

// A wait resolved from a caller's time-out: no limit, up to a number of ms (0: a poll, which does not
// wait), or no wait allowed. Only Of, ForRead and ForConnect read the special values.
class TIdWait {
 public:
  // As every wait takes its time-out: IdTimeoutInfinite no limit, 0 a poll, n > 0 a limit, any
  // other negative value no wait allowed.
  static constexpr TIdWait Of(int32_t ATimeout) noexcept { return TIdWait(ATimeout); }
  static constexpr TIdWait Unlimited() noexcept { return TIdWait(IdTimeoutInfinite); }
  // As a read takes it: IdTimeoutDefault is AReadTimeout, whose 0 means no limit; the rest as Of.
  static TIdWait ForRead(int32_t ATimeout, int32_t AReadTimeout) noexcept;
  // As a connect takes it: no value for an untimed connect (IdTimeoutDefault and 0); no limit for
  // IdTimeoutInfinite; a limit for n > 0; any other negative value, a limit of 0 ms.
  static std::optional<TIdWait> ForConnect(int32_t ATimeout) noexcept;

  bool IsUnlimited() const noexcept { return FMs == IdTimeoutInfinite; }
  bool IsAllowed() const noexcept { return FMs >= 0 || IsUnlimited(); }
  // The time-out to hand on to a call that takes one: IdTimeoutInfinite without a limit.
  int32_t Ms() const noexcept { return FMs; }
  // A wait that is no limit stays; any other gets at least AMs ms.
  TIdWait AtLeast(int32_t AMs) const noexcept { return IsUnlimited() ? *this : Of(MaxOf(FMs, AMs)); }

 private:
  explicit constexpr TIdWait(int32_t AMs) noexcept : FMs(AMs) {}
  int32_t FMs;
};

// The end of a wait that starts when it is made.
class TIdDeadline {
 public:
  explicit TIdDeadline(TIdWait AWait) noexcept;
  // What is left of the wait: a limit counts down to 0 ms (rounded up, so it never ends early);
  // no limit, and no wait allowed, stay as they are.
  TIdWait Left() const noexcept;
  // No value without a limit.
  std::optional<std::chrono::steady_clock::time_point> End() const noexcept;

 private:
  TIdWait FWait;
  std::chrono::steady_clock::time_point FEnd;
};

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
