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

void TIdIOHandler::Open() {}

bool TIdIOHandler::WaitReadable(int32_t ATimeout) {
  if (BytesHeld() > 0) return true;
  return RawWaitReadable(ATimeout).Count > 0;
}

TIdIOResult TIdIOHandler::Receive(void* ABuffer, int32_t ALength, int32_t ATimeout) {
  if (BytesHeld() > 0) return RawReceive(ABuffer, ALength, 0);
  if (ATimeout < 0 && ATimeout != IdTimeoutInfinite) return TIdIOResult::Expired();
  return RawReceive(ABuffer, ALength, ATimeout);
}

TIdIOResult TIdIOHandler::Send(const void* ABuffer, int32_t ALength) {
  return RawSend(ABuffer, ALength);
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
