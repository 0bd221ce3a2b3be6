#pragma once

#include <cstdint>
#include <string>

#include "qorclnt/connection/IdTCPConnection.hpp"

namespace qor {

// A TCP connection that knows its endpoint (Host, Port), the local end to bind first (BoundIP,
// BoundPort) and whom to tell when a connection has been made (OnConnected).
class TIdTCPClient : public TIdTCPConnection {
 public:
  explicit TIdTCPClient(TComponent* AOwner);

  // Store the value; no check, no disconnect, no lookup.
  virtual void SetHost(const std::string& AValue);
  virtual void SetPort(int32_t AValue);
  // Calls OnConnected with this client as sender.
  virtual void FireConnected();
  // Opens the connection within ATimeout ms (-1 and 0: no time-out), creating a socket I/O handler
  // when none is set and reusing it after a failure. EIdAlreadyConnected when already connected; any
  // other failure closes the socket and passes the error on.
  virtual void Connect(int32_t ATimeout = IdTimeoutDefault);
  // Connects, reads everything until the peer closes, disconnects; returns what was read.
  virtual std::string ConnectAndReadAll();

  const std::string& BoundIP() const noexcept { return FBoundIP; }
  void SetBoundIP(const std::string& AValue) { FBoundIP = AValue; }
  int32_t BoundPort() const noexcept { return FBoundPort; }
  void SetBoundPort(int32_t AValue) noexcept { FBoundPort = AValue; }
  const std::string& Host() const noexcept { return FHost; }
  int32_t Port() const noexcept { return FPort; }

  TNotifyEvent OnConnected;

 private:
  std::string FBoundIP;
  int32_t FBoundPort = 0;
  std::string FHost;
  int32_t FPort = 0;
};

}  // namespace qor
