#include "BenchTransport.hpp"

#include <algorithm>
#include <cstring>

namespace qor::bench {

TBenchTransport::TBenchTransport(std::string APattern, TComponent* AOwner)
    : TIdIOHandler(AOwner), FPattern(std::move(APattern)) {}

bool TBenchTransport::WaitReadable(int32_t /*ATimeout*/) {
  return !FPattern.empty();
}

int32_t TBenchTransport::ReceiveBuffer(void* ABuffer, int32_t ALength) {
  auto* out = static_cast<char*>(ABuffer);
  size_t left = static_cast<size_t>(ALength);
  while (left > 0) {
    const size_t n = std::min(left, FPattern.size() - FOffset);
    std::memcpy(out, FPattern.data() + FOffset, n);
    out += n;
    left -= n;
    FOffset = (FOffset + n) % FPattern.size();
  }
  return ALength;
}

int32_t TBenchTransport::SendBuffer(const void* /*ABuffer*/, int32_t ALength) {
  return ALength;
}

std::string Repeat(const std::string& APattern, size_t AMinBytes) {
  std::string result;
  result.reserve(AMinBytes + APattern.size());
  while (result.size() < AMinBytes) result += APattern;
  return result;
}

}  // namespace qor::bench
