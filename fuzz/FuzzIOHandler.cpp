#include "FuzzIOHandler.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"

namespace qor::fuzz {

namespace {

// The error numbers of a failed receive: those the connection tolerates first, then others.
constexpr std::array<int, 13> ReceiveErrors{ESHUTDOWN, ECONNABORTED, ECONNRESET,  EAGAIN,   EINTR,
                                            EBADF,     ENOTCONN,     ETIMEDOUT,   ENOTSOCK, EPIPE,
                                            EINVAL,    EFAULT,       EHOSTUNREACH};

constexpr uint8_t LongChunk = 0xF0;
constexpr uint8_t Silence = 0xF1;
constexpr uint8_t PeerClose = 0xF2;
constexpr uint8_t FirstError = 0xF3;
static_assert(FirstError + ReceiveErrors.size() == 256);

}  // namespace

TFuzzIOHandler::TFuzzIOHandler(TFuzzInput& AInput, int32_t ASendLimit)
    : TIdIOHandlerSocket(nullptr), FInput(AInput), FSendLimit(ASendLimit) {}

TFuzzIOHandler::~TFuzzIOHandler() {
  Close();
}

void TFuzzIOHandler::ConnectTo(const std::string& /*AHost*/, int32_t /*APort*/,
                               const std::string& /*ABoundIP*/, int32_t /*ABoundPort*/,
                               int32_t /*ABoundPortMin*/, int32_t /*ABoundPortMax*/, int32_t /*ATimeout*/) {
  FConnected = true;
}

void TFuzzIOHandler::PeekEvent() {
  if (FEventWaiting) return;
  FEventWaiting = true;
  if (FPeerClosed || FInput.Empty()) {
    FEvent = ekClose;
    return;
  }
  const uint8_t control = FInput.Byte();
  if (control < LongChunk) {
    FEvent = ekChunk;
    FChunk = FInput.Bytes(control + 1u);
  } else if (control == LongChunk) {
    FEvent = ekChunk;
    FChunk = FInput.Bytes(FInput.Word() + 1u);
  } else if (control == Silence) {
    FEvent = ekSilence;
  } else if (control == PeerClose) {
    FEvent = ekClose;
  } else {
    FEvent = ekError;
    FErrno = ReceiveErrors[control - FirstError];
  }
  FChunkPos = 0;
  // A chunk cut short by the end of the input may be empty: then it is the close.
  if (FEvent == ekChunk && FChunk.empty()) FEvent = ekClose;
}

TIdIOResult TFuzzIOHandler::SocketWaitReadable(int32_t ATimeout) {
  if (!FConnected) Raise(EIdConnClosedGracefully(RSConnectionClosedGracefully));
  PeekEvent();
  if (FEvent != ekSilence) return TIdIOResult::Moved(1);
  FEventWaiting = false;
  // A wait without limit outlasts the silence and sees what follows it.
  return ATimeout == -2 ? SocketWaitReadable(ATimeout) : TIdIOResult::Expired();
}

TIdIOResult TFuzzIOHandler::SocketReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) {
  if (ATimeout != -2 && SocketWaitReadable(ATimeout).TimedOut) return TIdIOResult::Expired();
  if (!FConnected) Raise(EIdClosedSocket(RSClosedSocket));
  if (ALength <= 0) return TIdIOResult::Moved(0);
  for (PeekEvent(); FEvent == ekSilence; PeekEvent()) FEventWaiting = false;
  switch (FEvent) {
    case ekClose:
      FPeerClosed = true;
      return TIdIOResult::Moved(0);
    case ekError:
      FEventWaiting = false;
      FReceiveFailed = true;
      return TIdIOResult::Failure(FErrno);
    default:
      break;
  }
  const size_t n = std::min(FChunk.size() - FChunkPos, static_cast<size_t>(ALength));
  std::memcpy(ABuffer, FChunk.data() + FChunkPos, n);
  FReceived.append(FChunk, FChunkPos, n);
  FChunkPos += n;
  if (FChunkPos == FChunk.size()) FEventWaiting = false;
  return TIdIOResult::Moved(static_cast<int32_t>(n));
}

int32_t TFuzzIOHandler::BytesHeld() {
  if (!FHoldsBytes || !FEventWaiting || FEvent != ekChunk) return 0;
  return static_cast<int32_t>(FChunk.size() - FChunkPos);
}

TIdIOResult TFuzzIOHandler::SocketSend(const void* ABuffer, int32_t ALength) {
  if (!FConnected) Raise(EIdClosedSocket(RSClosedSocket));
  const int32_t n = FSendLimit > 0 ? std::min(ALength, FSendLimit) : ALength;
  FSent.append(static_cast<const char*>(ABuffer), static_cast<size_t>(std::max(n, 0)));
  return TIdIOResult::Moved(n);
}

}  // namespace qor::fuzz
