#pragma once

#include <cstdint>
#include <string>

#include "qorclnt/socket/IdIOHandler.hpp"

namespace qor::bench {

// An I/O handler without sockets for benchmarks: every receive copies the next bytes of an endless
// repetition of one pattern, and every send takes all it is given. It records nothing, so the cost
// measured is the connection's own.
class TBenchTransport : public TIdIOHandler {
 public:
  // APattern is repeated without end; with an empty pattern nothing is ever readable.
  explicit TBenchTransport(std::string APattern, TComponent* AOwner = nullptr);

  bool IsConnected() override { return true; }

 protected:
  // Readable at once when the pattern has bytes; a time-out otherwise.
  TIdIOResult RawWaitReadable(int32_t ATimeout) override;
  // Up to ALength bytes from where the last receive ended, wrapping at the pattern's end; a time-out
  // when the pattern is empty.
  TIdIOResult RawReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) override;
  TIdIOResult RawSend(const void* ABuffer, int32_t ALength) override;

 private:
  std::string FPattern;
  size_t FOffset = 0;
};

// APattern repeated until it holds at least AMinBytes bytes.
std::string Repeat(const std::string& APattern, size_t AMinBytes);

}  // namespace qor::bench
