#include "BenchTransport.hpp"

#include <algorithm>
#include <cstring>

namespace qor::bench {

TBenchTransport::TBenchTransport(std::string APattern, TComponent* AOwner)
    : TIdIOHandler(AOwner), FPattern(std::move(APattern)) {}

TIdIOResult TBenchTransport::RawWaitReadable(int32_t /*ATimeout*/) {
  return FPattern.empty() ? TIdIOResult::Expired() : TIdIOResult::Moved(1);
}

TIdIOResult TBenchTransport::RawReceive(void* ABuffer, int32_t ALength, int32_t /*ATimeout*/) {
  if (FPattern.empty()) return TIdIOResult::Expired();
  auto* out = static_cast<char*>(ABuffer);
  size_t left = static_cast<size_t>(ALength);
  while (left > 0) {
    const size_t n = std::min(left, FPattern.size() - FOffset);
    std::memcpy(out, FPattern.data() + FOffset, n);
    out += n;
    left -= n;
    FOffset = (FOffset + n) % FPattern.size();
  }
  return TIdIOResult::Moved(ALength);
}

TIdIOResult TBenchTransport::RawSend(const void* /*ABuffer*/, int32_t ALength) {
  return TIdIOResult::Moved(ALength);
}

std::string Repeat(const std::string& APattern, size_t AMinBytes) {
  std::string result;
  result.reserve(AMinBytes + APattern.size());
  while (result.size() < AMinBytes) result += APattern;
  return result;
}

}  // namespace qor::bench
