#include "qorclnt/runtime/MemoryStream.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "qorclnt/runtime/RuntimeErrors.hpp"

namespace qor {

namespace {

// The largest block this build can ask for: a size past it cannot be represented as an allocation
// (on a 32-bit build that is 2 GiB, far below what a 64-bit size can say).
constexpr int64_t MaxBlock = static_cast<int64_t>(std::min<uintmax_t>(PTRDIFF_MAX, INT64_MAX));

}  // namespace

int64_t TStream::Size() {
  const int64_t position = Seek(0, soCurrent);
  const int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

int64_t TMemoryStream::Read(void* ABuffer, int64_t ACount) {
  const int64_t count = std::clamp<int64_t>(FSize - FPosition, 0, std::max<int64_t>(ACount, 0));
  if (count > 0) {
    std::memcpy(ABuffer, FMemory.get() + FPosition, static_cast<size_t>(count));
    FPosition += count;
  }
  return count;
}

int64_t TMemoryStream::Write(const void* ABuffer, int64_t ACount) {
  if (ACount <= 0) return 0;
  if (ACount > MaxBlock - FPosition) RaiseOutOfMemory();  // the end cannot even be counted
  const int64_t end = FPosition + ACount;
  Reserve(end);
  if (end > FSize) FSize = end;
  std::memcpy(FMemory.get() + FPosition, ABuffer, static_cast<size_t>(ACount));
  FPosition = end;
  return ACount;
}

int64_t TMemoryStream::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  switch (AOrigin) {
    case soBeginning:
      FPosition = AOffset;
      break;
    case soCurrent:
      FPosition += AOffset;
      break;
    case soEnd:
      FPosition = FSize + AOffset;
      break;
  }
  if (FPosition < 0) FPosition = 0;
  return FPosition;
}

void TMemoryStream::SetSize(int64_t ASize) {
  ASize = std::max<int64_t>(ASize, 0);
  // Grow to the size asked; give memory back when the block would be mostly empty.
  if (ASize > FCapacity || ASize < FCapacity / 4) Reallocate(ASize);
  FSize = ASize;
  if (FPosition > FSize) FPosition = FSize;
}

void TMemoryStream::SetSizeInBlock(int64_t ASize) noexcept {
  FSize = std::clamp<int64_t>(ASize, 0, FCapacity);
  if (FPosition > FSize) FPosition = FSize;
}

void TMemoryStream::Clear() {
  FMemory.reset();
  FCapacity = 0;
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream::Reserve(int64_t ACapacity) {
  if (ACapacity > FCapacity)
    Reallocate(std::max(ACapacity, FCapacity + std::min(FCapacity / 2 + 64, MaxBlock - FCapacity)));
}

void TMemoryStream::Reallocate(int64_t ACapacity) {
  if (ACapacity == FCapacity) return;
  // A block that cannot be had raises before anything changes.
  if (ACapacity > MaxBlock) RaiseOutOfMemory();
  std::unique_ptr<char[]> block;
  if (ACapacity > 0) {
    try {
      block.reset(new char[static_cast<size_t>(ACapacity)]);
    } catch (const std::bad_alloc&) {
      RaiseOutOfMemory();
    }
    const int64_t kept = std::min(FSize, ACapacity);
    if (kept > 0) std::memcpy(block.get(), FMemory.get(), static_cast<size_t>(kept));
  }
  FMemory = std::move(block);
  FCapacity = ACapacity;
  if (FSize > FCapacity) FSize = FCapacity;
}

}  // namespace qor
