#include "qorclnt/connection/IdBuffers.hpp"

#include <algorithm>
#include <cstring>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"

namespace qor {

TIdSimpleBuffer::TIdSimpleBuffer(TIdBufferConsumedEvent AOnConsumed) : OnConsumed(std::move(AOnConsumed)) {}

void TIdSimpleBuffer::RaiseNotEnoughData() {
  Raise(EIdNotEnoughDataInBuffer(RSNotEnoughDataInBuffer));
}

std::string TIdSimpleBuffer::TakeString(int32_t ACount) {
  CheckAvailable(ACount, Size());
  std::string result(ACount == 0 ? "" : Front(), static_cast<size_t>(ACount));
  // Virtual: the managed buffer's own Discard moves its read offset instead of the bytes.
  Discard(ACount);
  return result;
}

void TIdSimpleBuffer::Discard(int32_t ACount) {
  const int64_t size = Size();
  CheckAvailable(ACount, size);
  if (ACount == size) {
    Clear();
  } else if (ACount > 0) {
    std::memmove(Memory(), Memory() + ACount, static_cast<size_t>(size - ACount));
    SetSize(size - ACount);
  }
  NotifyConsumed(ACount);
}

TIdManagedBuffer::TIdManagedBuffer(TIdBufferConsumedEvent AOnConsumed)
    : TIdSimpleBuffer(std::move(AOnConsumed)) {}

void TIdManagedBuffer::Empty() {
  // A block of a receive's size or so serves the next receive; a long line's larger one goes.
  if (Capacity() > KeptBlockSize) {
    Clear();
    return;
  }
  FReadOffset = 0;
  SetSizeInBlock(0);
}

int64_t TIdManagedBuffer::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  const int64_t target = AOrigin == soBeginning ? FReadOffset + AOffset : AOffset;
  const int64_t position = TIdSimpleBuffer::Seek(target, AOrigin);
  if (position >= FReadOffset) return position - FReadOffset;
  return TIdSimpleBuffer::Seek(FReadOffset, soBeginning) - FReadOffset;
}

void TIdManagedBuffer::SetSize(int64_t ASize) {
  TIdSimpleBuffer::SetSize(FReadOffset + std::max<int64_t>(ASize, 0));
}

void TIdManagedBuffer::Clear() {
  TIdSimpleBuffer::Clear();
  FReadOffset = 0;
}

void TIdManagedBuffer::Compact() {
  if (FReadOffset <= 0) return;
  const int64_t unread = Size();
  const int64_t position = Position();
  std::memmove(Memory(), UnreadStart(), static_cast<size_t>(unread));
  FReadOffset = 0;
  SetSizeInBlock(unread);
  TIdSimpleBuffer::Seek(position, soBeginning);
}

void TIdManagedBuffer::Append(const char* AData, int32_t ACount) {
  char* const room = Room(ACount);
  if (room == nullptr) return;
  std::memcpy(room, AData, static_cast<size_t>(ACount));
  Extend(ACount);
}

char* TIdManagedBuffer::Room(int32_t ACount) {
  if (ACount <= 0) return nullptr;
  if (TIdSimpleBuffer::Size() + ACount > Capacity()) {
    if (FReadOffset > 0) Compact();
    Reserve(TIdSimpleBuffer::Size() + ACount);
  }
  return Memory() + TIdSimpleBuffer::Size();
}

void TIdManagedBuffer::Extend(int32_t ACount) {
  SetSizeInBlock(TIdSimpleBuffer::Size() + ACount);
  TIdSimpleBuffer::Seek(0, soEnd);
}

}  // namespace qor
