#include "qorclnt/socket/IdSocks.hpp"

#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"

namespace qor {

TIdSocksInfo::TIdSocksInfo(TComponent* AOwner) : TIdComponent(AOwner) {}

void TIdSocksInfo::Assign(const TIdSocksInfo& ASource) {
  FAuthentication = ASource.FAuthentication;
  FHost = ASource.FHost;
  FPassword = ASource.FPassword;
  FPort = ASource.FPort;
  FUsername = ASource.FUsername;
  FVersion = ASource.FVersion;
}

void TIdSocksInfo::NegotiateProxy(const std::string& AHost, int32_t APort) {
  NegotiateProxy(AHost, APort, IdTimeoutInfinite);
}

void TIdSocksInfo::NegotiateProxy(const std::string& AHost, int32_t APort, int32_t ATimeout) {
  switch (FVersion) {
    case svSocks4:
    case svSocks4A:
      NegotiateSocks4(AHost, APort, ATimeout);
      break;
    case svSocks5:
      NegotiateSocks5(AHost, APort, ATimeout);
      break;
    case svNoSocks:
      break;
  }
}

void TIdSocksInfo::Notification(TComponent* AComponent, TOperation AOperation) {
  TIdComponent::Notification(AComponent, AOperation);
  if (AOperation == opRemove && AComponent == FHandler) FHandler = nullptr;
}

}  // namespace qor
