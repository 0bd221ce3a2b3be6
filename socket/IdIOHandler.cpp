#include "qorclnt/socket/IdIOHandler.hpp"

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

bool TIdIOHandler::ReceiveWithin(void* ABuffer, int32_t ALength, int32_t ATimeout, int32_t& VReceived) {
  if (!WaitReadable(ATimeout)) return false;
  VReceived = ReceiveBuffer(ABuffer, ALength);
  return true;
}

void TIdIOHandler::StartTLS() {
  Raise(EIdTLSStartRefused(RSTLSStartUnsupported));
}

}  // namespace qor
