#include "qorclnt/socket/IdIOHandler.hpp"

#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"

namespace qor {

TIdIOHandler::TIdIOHandler(TComponent* AOwner) : TIdComponent(AOwner) {}

TIdIOHandler::~TIdIOHandler() = default;

void TIdIOHandler::EmptyHook() {}

void TIdIOHandler::Close() {}

void TIdIOHandler::ConnectTo(const std::string& /*AHost*/, int32_t /*APort*/, const std::string& /*ABoundIP*/,
                             int32_t /*ABoundPort*/, int32_t /*ABoundPortMin*/, int32_t /*ABoundPortMax*/,
                             int32_t /*ATimeout*/) {}

void TIdIOHandler::Open() {
  ClearAbort();
}

// Each operation checks for an Abort before it starts and after it ends: the Abort's wake-up ends
// whatever blocked, and then the Abort, not what the wake-up made of the call, is what counts.

bool TIdIOHandler::WaitReadable(int32_t ATimeout) {
  CheckAborted();
  if (BytesHeld() > 0) return true;
  const bool readable = RawWaitReadable(ATimeout).Count > 0;
  CheckAborted();
  return readable;
}

TIdIOResult TIdIOHandler::Receive(void* ABuffer, int32_t ALength, int32_t ATimeout) {
  CheckAborted();
  if (BytesHeld() > 0) return RawReceive(ABuffer, ALength, 0);
  if (!TIdWait::Of(ATimeout).IsAllowed()) return TIdIOResult::Expired();
  const TIdIOResult result = RawReceive(ABuffer, ALength, ATimeout);
  CheckAborted();
  return result;
}

TIdIOResult TIdIOHandler::Send(const void* ABuffer, int32_t ALength) {
  CheckAborted();
  const TIdIOResult result = RawSend(ABuffer, ALength);
  CheckAborted();
  return result;
}

void TIdIOHandler::Abort() {
  const std::lock_guard lock(FAbortLock);
  FAborted.store(true, std::memory_order_release);
  AbortTransport();
}

void TIdIOHandler::AbortTransport() {}

void TIdIOHandler::CheckAborted() const {
  if (Aborted()) Raise(EIdAborted(RSAborted));
}

int32_t TIdIOHandler::ReceiveBuffer(void* ABuffer, int32_t ALength) {
  return Receive(ABuffer, ALength, IdTimeoutInfinite).Count;
}

int32_t TIdIOHandler::SendBuffer(const void* ABuffer, int32_t ALength) {
  return Send(ABuffer, ALength).Count;
}

int32_t TIdIOHandler::BytesHeld() {
  return 0;
}

void TIdIOHandler::StartTLS() {
  Raise(EIdTLSStartRefused(RSTLSStartUnsupported));
}

}  // namespace qor
