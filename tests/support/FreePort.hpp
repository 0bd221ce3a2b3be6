#pragma once

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstdint>

#include "support/Posix.hpp"
#include "support/UniqueFd.hpp"

namespace qor::test {

// A new TCP socket bound to 127.0.0.1 and a port of the system's choice.
inline UniqueFd BoundLoopbackSocket() {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in address = LoopbackAddress(0);
  ::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  return socket;
}

// The local port of the socket AFd.
inline uint16_t LocalPortOf(int AFd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ::getsockname(AFd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// A port of 127.0.0.1 that nothing listens on right now, so a connect to it is refused.
inline uint16_t RefusedPort() {
  return LocalPortOf(BoundLoopbackSocket().Get());
}

// A port of 127.0.0.1 where every connect is refused for as long as this object lives: a socket
// that does not listen stays bound to it, so that no other socket, of this process or another one,
// can listen there meanwhile (RefusedPort's port is only free at the moment it is chosen).
class RefusingPort {
 public:
  uint16_t Port() const noexcept { return FPort; }

 private:
  UniqueFd FSocket = BoundLoopbackSocket();
  uint16_t FPort = LocalPortOf(FSocket.Get());
};

// A port of 127.0.0.1 that listens (with a queue of four) but never accepts by itself: the system
// makes the connections, and nobody reads them unless the test accepts from Descriptor().
class ListeningPort {
 public:
  ListeningPort() { ::listen(FSocket.Get(), 4); }

  uint16_t Port() const noexcept { return FPort; }
  int Descriptor() const noexcept { return FSocket.Get(); }

 private:
  UniqueFd FSocket = BoundLoopbackSocket();
  uint16_t FPort = LocalPortOf(FSocket.Get());
};

}  // namespace qor::test
