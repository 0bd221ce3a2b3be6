#include "qorclnt/connection/IdGlobal.hpp"

#include <cstring>
#include <thread>

#include "qorclnt/connection/IdComponent.hpp"
#include "qorclnt/runtime/Strings.hpp"
#include "qorclnt/socket/IdStack.hpp"

namespace qor {

TIdWait TIdWait::ForRead(int32_t ATimeout, int32_t AReadTimeout) noexcept {
  if (ATimeout != IdTimeoutDefault) return Of(ATimeout);
  return AReadTimeout == 0 ? Unlimited() : Of(AReadTimeout);
}

std::optional<TIdWait> TIdWait::ForConnect(int32_t ATimeout) noexcept {
  if (ATimeout == IdTimeoutDefault || ATimeout == 0) return std::nullopt;
  return Of(ATimeout).IsAllowed() ? Of(ATimeout) : Of(0);
}

TIdDeadline::TIdDeadline(TIdWait AWait) noexcept
    : FWait(AWait), FEnd(std::chrono::steady_clock::now() + std::chrono::milliseconds(AWait.Ms())) {}

TIdWait TIdDeadline::Left() const noexcept {
  if (FWait.Ms() < 0) return FWait;
  const auto rest = FEnd - std::chrono::steady_clock::now();
  if (rest <= std::chrono::steady_clock::duration::zero()) return TIdWait::Of(0);
  return TIdWait::Of(static_cast<int32_t>(std::chrono::ceil<std::chrono::milliseconds>(rest).count()));
}

std::optional<std::chrono::steady_clock::time_point> TIdDeadline::End() const noexcept {
  if (FWait.IsUnlimited()) return std::nullopt;
  return FEnd;
}

namespace {

// Recorded while the program starts, on the thread that runs the static initialisers: the main one.
const std::thread::id MainThreadId = std::this_thread::get_id();

// 1-based position of the first occurrence of ASubStr in AText, 0 when absent or when ASubStr is
// empty. The modules start in the "C" locale, a single-byte character set, so the search is a plain
// byte-wise one.
int32_t TextSearch(const std::string& ASubStr, const std::string& AText) {
  return FindInMemory(ASubStr, AText.data(), static_cast<int32_t>(AText.size()));
}

}  // namespace

std::string CutToken(std::string& AInput, const std::string& ADelim, bool ADelete, bool ACaseSensitive) {
  // Folding a to z moves no byte, so a NUL delimiter (which has no case) is found at the same place
  // in both modes.
  const int32_t position = ACaseSensitive ? TextSearch(ADelim, AInput)
                                          : TextSearch(UpperCaseAscii(ADelim), UpperCaseAscii(AInput));
  if (position == 0) {
    std::string result = AInput;
    if (ADelete) AInput.clear();
    return result;
  }
  const size_t start = static_cast<size_t>(position) - 1;
  std::string result = AInput.substr(0, start);
  if (ADelete) AInput.erase(0, start + ADelim.size());
  return result;
}

void PauseMs(int32_t AMilliseconds) {
  // The share keeps CurrentStack (made now if there is none) alive until the wait is over, even if
  // another thread frees the last component meanwhile.
  const TIdStackShare share;
  CurrentStack->WaitForSockets(nullptr, nullptr, nullptr, AMilliseconds);
}

bool IsMainThread() {
  return std::this_thread::get_id() == MainThreadId;
}

int32_t FindInMemory(const std::string& ASubStr, const void* ABuffer, int32_t ASize) {
  const size_t length = ASubStr.size();
  if (length == 0 || ASize < 0 || length > static_cast<size_t>(ASize)) return 0;
  const char* const buffer = static_cast<const char*>(ABuffer);
  const char* const lastStart = buffer + (static_cast<size_t>(ASize) - length);
  const char first = ASubStr[0];
  // memchr finds the candidates for the first byte at memory-search speed; memcmp checks the rest.
  for (const char* p = buffer; p <= lastStart; ++p) {
    p = static_cast<const char*>(std::memchr(p, first, static_cast<size_t>(lastStart - p) + 1));
    if (p == nullptr) return 0;
    if (length == 1 || std::memcmp(p + 1, ASubStr.data() + 1, length - 1) == 0) {
      return static_cast<int32_t>(p - buffer) + 1;
    }
  }
  return 0;
}

}  // namespace qor
