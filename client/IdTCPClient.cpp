#include "qorclnt/client/IdTCPClient.hpp"

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"

namespace qor {

TIdTCPClient::TIdTCPClient(TComponent* AOwner) : TIdTCPConnection(AOwner) {}

void TIdTCPClient::SetHost(const std::string& AValue) {
  FHost = AValue;
}

void TIdTCPClient::SetPort(int32_t AValue) {
  FPort = AValue;
}

void TIdTCPClient::FireConnected() {
  if (OnConnected) OnConnected(this);
}

void TIdTCPClient::Connect(int32_t ATimeout) {
  if (IOHandler() != nullptr) {
    if (IOHandler()->IsConnected()) Raise(EIdAlreadyConnected(RSAlreadyConnected));
  } else {
    // A handler made here is owned by the client until the next Disconnect, and kept across failed
    // attempts so that a retry loop makes it once.
    auto* handler = new TIdIOHandlerSocket(this);
    SetIOHandler(handler);
    handler->OnStatus = OnStatus;
    SetOwnsIOHandler(true);
  }
  try {
    IOHandler()->Open();
    ResetForConnect();
    IOHandler()->ConnectTo(FHost, FPort, FBoundIP, FBoundPort, 0, 0, ATimeout);
    if (Intercept() != nullptr) Intercept()->Connect(this);
    NotifyStatus(hsConnected, {FHost});
    FireConnected();
  } catch (...) {
    DropSocket();
    throw;
  }
}

std::string TIdTCPClient::ConnectAndReadAll() {
  Connect();
  std::string data;
  try {
    data = ReadAll();
  } catch (...) {
    Disconnect();
    throw;
  }
  Disconnect();
  return data;
}

}  // namespace qor
