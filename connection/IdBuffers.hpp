#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "qorclnt/runtime/MemoryStream.hpp"

namespace qor {

class TIdSimpleBuffer;

// Told after ACount bytes have been taken out of the front of a buffer.
using TIdBufferConsumedEvent = std::function<void(TIdSimpleBuffer* ASender, int32_t ACount)>;

// A memory stream from whose front bytes are taken. Taking bytes moves the rest to the front.
class TIdSimpleBuffer : public TMemoryStream {
 public:
  explicit TIdSimpleBuffer(TIdBufferConsumedEvent AOnConsumed = nullptr);

  // The first ACount bytes, which are then discarded. EIdNotEnoughDataInBuffer, with nothing
  // changed and nobody told, when fewer are held.
  virtual std::string TakeString(int32_t ACount);
  // Drops the first ACount bytes and tells OnConsumed; the same error as TakeString.
  virtual void Discard(int32_t ACount);

  TIdBufferConsumedEvent OnConsumed;

 protected:
  // Raises EIdNotEnoughDataInBuffer unless 0 <= ACount <= AAvailable.
  static void CheckAvailable(int32_t ACount, int64_t AAvailable) {
    if (ACount < 0 || ACount > AAvailable) [[unlikely]]
      RaiseNotEnoughData();
  }
  [[noreturn]] static void RaiseNotEnoughData();
  void NotifyConsumed(int32_t ACount) {
    if (OnConsumed) OnConsumed(this, ACount);
  }
  // The first byte that TakeString hands out (null while the block is freed).
  virtual const char* Front() noexcept { return Memory(); }
};

// A buffer that consumes by moving a read offset: the consumed bytes stay at the front of the block,
// invisible, until CompactThreshold of them have gathered; then the unread bytes move to the front
// once. Every position and size it reports counts from the first unread byte. Read empty, it keeps a
// block of up to KeptBlockSize bytes for what comes next and frees a larger one.
class TIdManagedBuffer : public TIdSimpleBuffer {
 public:
  static constexpr int32_t DefaultCompactThreshold = 32768;
  static constexpr int64_t KeptBlockSize = 65536;

  explicit TIdManagedBuffer(TIdBufferConsumedEvent AOnConsumed = nullptr);

  // Runs once a line: inline, so that a caller holding the buffer itself pays no call for it.
  void Discard(int32_t ACount) override {
    const int64_t unread = TIdSimpleBuffer::Size() - FReadOffset;
    CheckAvailable(ACount, unread);
    if (ACount == unread) {
      Empty();
    } else {
      FReadOffset += ACount;
      // The position keeps pointing at the same byte, or at the first unread one.
      if (BlockPosition() < FReadOffset) TIdSimpleBuffer::Seek(FReadOffset, soBeginning);
      if (FReadOffset >= FCompactThreshold) Compact();
    }
    NotifyConsumed(ACount);
  }

  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  int64_t Size() override { return TIdSimpleBuffer::Size() - FReadOffset; }
  void SetSize(int64_t ASize) override;
  // Frees the block; size, position and read offset become 0. Nobody is told.
  void Clear() override;

  // Moves the unread bytes to the front of the block and sets the read offset to 0. The block keeps
  // its memory: it is refilled by the next receive.
  void Compact();
  // Writes ACount bytes after the unread ones and leaves the position behind them, through Room.
  void Append(const char* AData, int32_t ACount);
  // Where ACount more bytes can go behind the unread ones; null for a count of 0 or less. When the
  // block lacks the room, the consumed bytes at its front are dropped first, and only then does the
  // block grow, so that it grows only for unread bytes. A receive straight into the room, followed
  // by Extend, saves copying what was received.
  char* Room(int32_t ACount);
  // Makes the first ACount bytes of the room unread bytes and leaves the position behind them.
  void Extend(int32_t ACount);
  // The first unread byte (null while the block is freed).
  char* UnreadStart() noexcept { return Memory() == nullptr ? nullptr : Memory() + FReadOffset; }

  int32_t CompactThreshold() const noexcept { return FCompactThreshold; }
  void SetCompactThreshold(int32_t AValue) noexcept { FCompactThreshold = AValue; }
  int64_t ReadOffset() const noexcept { return FReadOffset; }

 protected:
  const char* Front() noexcept override { return UnreadStart(); }

 private:
  // Read empty: size, position and read offset 0, the block kept or freed by its size.
  void Empty();

  int32_t FCompactThreshold = DefaultCompactThreshold;
  int64_t FReadOffset = 0;
};

}  // namespace qor
