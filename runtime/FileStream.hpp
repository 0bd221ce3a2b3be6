#pragma once

#include <cstdint>
#include <string>

#include "qorclnt/runtime/MemoryStream.hpp"

namespace qor {

// A file opened for reading, as a stream. The descriptor is closed with the object.
class TFileStream : public TStream {
 public:
  // Opens AFileName read-only; EInOutError with the system's text when it cannot.
  explicit TFileStream(const std::string& AFileName);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  // EInOutError with the system's text when the system call fails.
  int64_t Read(void* ABuffer, int64_t ACount) override;
  // The file is read-only: raises EInOutError.
  int64_t Write(const void* ABuffer, int64_t ACount) override;
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  // The file is read-only: raises EInOutError.
  void SetSize(int64_t ASize) override;

  static bool FileExists(const std::string& AFileName);

 private:
  int FHandle = -1;
};

}  // namespace qor
