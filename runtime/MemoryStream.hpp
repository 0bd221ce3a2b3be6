#pragma once

#include <cstdint>
#include <memory>

namespace qor {

enum TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

// A byte stream with a position and a size.
class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to ACount bytes at the position; returns how many were read.
  virtual int64_t Read(void* ABuffer, int64_t ACount) = 0;
  // Writes ACount bytes at the position; returns how many were written.
  virtual int64_t Write(const void* ABuffer, int64_t ACount) = 0;
  // Moves the position and returns it.
  virtual int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) = 0;
  virtual void SetSize(int64_t ASize) = 0;
  virtual int64_t Size();

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t APosition) { Seek(APosition, soBeginning); }
};

// A growable block of bytes in memory. Writing past the end grows it; clearing frees it. A size
// that cannot be had raises EOutOfMemory and changes nothing.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  int64_t Read(void* ABuffer, int64_t ACount) override;
  int64_t Write(const void* ABuffer, int64_t ACount) override;
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  void SetSize(int64_t ASize) override;
  int64_t Size() override { return FSize; }
  virtual void Clear();

  // The first byte of the block (null while the block is empty and freed).
  char* Memory() noexcept { return FMemory.get(); }
  const char* Memory() const noexcept { return FMemory.get(); }
  int64_t Capacity() const noexcept { return FCapacity; }

 protected:
  // Gives the block exactly ACapacity bytes, keeping the first min(size, ACapacity) of them.
  // EOutOfMemory, with nothing changed, when a block of that size cannot be had.
  void Reallocate(int64_t ACapacity);
  // Makes the block hold at least ACapacity bytes, growing it by half at least, so that a stream
  // written in many small steps is copied a bounded number of times. EOutOfMemory as Reallocate.
  void Reserve(int64_t ACapacity);
  // The position, without the virtual Seek: for derived streams on their hot paths.
  int64_t BlockPosition() const noexcept { return FPosition; }
  // Sets the size within the capacity and keeps the block as it is: for a stream that is refilled
  // at once, where giving memory back would only mean taking it again, or that was written in place.
  void SetSizeInBlock(int64_t ASize) noexcept;

 private:
  std::unique_ptr<char[]> FMemory;
  int64_t FCapacity = 0;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};

}  // namespace qor
