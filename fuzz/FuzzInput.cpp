#include "FuzzInput.hpp"

#include <algorithm>

namespace qor::fuzz {

uint8_t TFuzzInput::Byte() noexcept {
  return Empty() ? 0 : FData[FPos++];
}

uint16_t TFuzzInput::Word() noexcept {
  const uint16_t high = Byte();
  return static_cast<uint16_t>(high << 8 | Byte());
}

size_t TFuzzInput::Below(size_t ABound) noexcept {
  return (ABound <= 256 ? Byte() : Word()) % ABound;
}

std::string TFuzzInput::Bytes(size_t ACount) {
  const size_t n = std::min(ACount, Remaining());
  std::string result(reinterpret_cast<const char*>(FData + FPos), n);
  FPos += n;
  return result;
}

std::string TFuzzInput::Text(size_t ACount) {
  std::string result = Bytes(ACount);
  for (size_t i = result.size(); i < ACount; ++i) result.push_back(static_cast<char>('a' + i % 26));
  return result;
}

}  // namespace qor::fuzz
