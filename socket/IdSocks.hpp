#pragma once

#include <cstdint>
#include <string>

#include "qorclnt/connection/IdComponent.hpp"

namespace qor {

class TIdIOHandlerSocket;

enum TSocksVersion : uint8_t { svNoSocks, svSocks4, svSocks4A, svSocks5 };
enum TSocksAuthentication : uint8_t { saNoAuthentication, saUsernamePassword };

inline constexpr int32_t IdSocksDefaultPort = 1080;

// The proxy settings of a socket I/O handler. With a Version other than svNoSocks the handler
// connects to Host:Port and then lets NegotiateProxy ask the proxy for the destination, over the
// handler's plain socket (below any transport that wraps the bytes).
class TIdSocksInfo : public TIdComponent {
 public:
  explicit TIdSocksInfo(TComponent* AOwner);

  // Copies the settings (not Handler).
  void Assign(const TIdSocksInfo& ASource);
  // Runs the proxy dialogue for the destination AHost:APort; nothing with svNoSocks.
  void NegotiateProxy(const std::string& AHost, int32_t APort);
  // The same within ATimeout ms (-2: no limit; 0: every receive a poll): a proxy that has not
  // answered in time is one that did not respond (SOCKS 5), or a receive that timed out,
  // EIdReadTimeout (SOCKS 4).
  void NegotiateProxy(const std::string& AHost, int32_t APort, int32_t ATimeout);

  TSocksAuthentication Authentication() const noexcept { return FAuthentication; }
  void SetAuthentication(TSocksAuthentication AValue) noexcept { FAuthentication = AValue; }
  const std::string& Host() const noexcept { return FHost; }
  void SetHost(std::string AValue) { FHost = std::move(AValue); }
  const std::string& Password() const noexcept { return FPassword; }
  void SetPassword(std::string AValue) { FPassword = std::move(AValue); }
  int32_t Port() const noexcept { return FPort; }
  void SetPort(int32_t AValue) noexcept { FPort = AValue; }
  const std::string& Username() const noexcept { return FUsername; }
  void SetUsername(std::string AValue) { FUsername = std::move(AValue); }
  TSocksVersion Version() const noexcept { return FVersion; }
  void SetVersion(TSocksVersion AValue) noexcept { FVersion = AValue; }
  // The I/O handler whose socket the dialogue uses; set by the handler that takes these settings.
  TIdIOHandlerSocket* Handler() const noexcept { return FHandler; }
  void SetHandler(TIdIOHandlerSocket* AValue) noexcept { FHandler = AValue; }

 protected:
  // Forgets the handler when it is removed.
  void Notification(TComponent* AComponent, TOperation AOperation) override;

 private:
  // The SOCKS 4 or 4A dialogue (by Version); the user id is cut to 255 bytes. Both dialogues end
  // within ATimeout ms (-2: no limit).
  void NegotiateSocks4(const std::string& AHost, int32_t APort, int32_t ATimeout);
  // The SOCKS 5 dialogue, with user name and password when Authentication asks for them.
  void NegotiateSocks5(const std::string& AHost, int32_t APort, int32_t ATimeout);

  TSocksAuthentication FAuthentication = saNoAuthentication;
  std::string FHost;
  std::string FPassword;
  int32_t FPort = IdSocksDefaultPort;
  std::string FUsername;
  TSocksVersion FVersion = svNoSocks;
  TIdIOHandlerSocket* FHandler = nullptr;
};

}  // namespace qor
