// 64-bit offsets also in the 32-bit build.
#define _FILE_OFFSET_BITS 64

#include "qorclnt/runtime/FileStream.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "qorclnt/runtime/RuntimeErrors.hpp"

namespace qor {

TFileStream::TFileStream(const std::string& AFileName) {
  do {
    FHandle = ::open(AFileName.c_str(), O_RDONLY | O_CLOEXEC);
  } while (FHandle < 0 && errno == EINTR);
  if (FHandle < 0) RaiseInOutError(errno);
}

TFileStream::~TFileStream() {
  ::close(FHandle);
}

int64_t TFileStream::Read(void* ABuffer, int64_t ACount) {
  if (ACount <= 0) return 0;
  ssize_t n;
  do {
    n = ::read(FHandle, ABuffer, static_cast<size_t>(ACount));
  } while (n < 0 && errno == EINTR);
  if (n < 0) RaiseInOutError(errno);
  return n;
}

int64_t TFileStream::Write(const void* /*ABuffer*/, int64_t /*ACount*/) {
  RaiseInOutError(EBADF);
}

int64_t TFileStream::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  static constexpr int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  const off_t position = ::lseek(FHandle, static_cast<off_t>(AOffset), whence[AOrigin]);
  if (position < 0) RaiseInOutError(errno);
  return position;
}

void TFileStream::SetSize(int64_t /*ASize*/) {
  RaiseInOutError(EBADF);
}

bool TFileStream::FileExists(const std::string& AFileName) {
  struct stat info {};
  return ::stat(AFileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace qor
