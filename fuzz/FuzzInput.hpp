#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qor::fuzz {

// The bytes of one fuzz run, taken from the front as settings and data. An exhausted input keeps
// answering (zero, false, fewer or no bytes), so every input means something.
class TFuzzInput {
 public:
  TFuzzInput(const uint8_t* AData, size_t ASize) : FData(AData), FSize(ASize) {}

  bool Empty() const noexcept { return FPos == FSize; }
  size_t Remaining() const noexcept { return FSize - FPos; }
  // The next byte; 0 when exhausted.
  uint8_t Byte() noexcept;
  // The next two bytes, most significant first.
  uint16_t Word() noexcept;
  // The low bit of the next byte.
  bool Bool() noexcept { return (Byte() & 1) != 0; }
  // A number below ABound (> 0), from one byte when ABound fits in one, else from two.
  size_t Below(size_t ABound) noexcept;
  // Up to ACount bytes (fewer when the input ends).
  std::string Bytes(size_t ACount);
  // Exactly ACount bytes: what the input has, then a repeating filler.
  std::string Text(size_t ACount);

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
};

}  // namespace qor::fuzz
