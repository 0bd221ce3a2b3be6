#pragma once

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

#include "support/Posix.hpp"
#include "support/UniqueFd.hpp"

namespace qor::test {

// A port of 127.0.0.1 that nothing listens on right now, so a connect to it is refused.
inline uint16_t RefusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// A port of 127.0.0.1 where every connect is refused for as long as this object lives: a socket
// that does not listen stays bound to it, so that no other socket, of this process or another one,
// can listen there meanwhile (RefusedPort's port is only free at the moment it is chosen).
class RefusingPort {
 public:
  RefusingPort() : FSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    ::bind(FSocket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::getsockname(FSocket.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    FPort = ntohs(address.sin_port);
  }

  uint16_t Port() const noexcept { return FPort; }

 private:
  UniqueFd FSocket;
  uint16_t FPort = 0;
};

}  // namespace qor::test
