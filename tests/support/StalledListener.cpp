#include "support/StalledListener.hpp"

#include <arpa/inet.h>
#include <sys/socket.h>

#include "support/Posix.hpp"

namespace qor::test {

StalledListener::StalledListener() {
  FListener.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!FListener.Valid()) ThrowSystemError("socket");
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  // A backlog of 0 leaves room for exactly one connection that is not accepted.
  if (::bind(FListener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(FListener.Get(), 0) != 0 ||
      ::getsockname(FListener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ThrowSystemError("bind/listen");
  }
  FPort = ntohs(address.sin_port);
  FFiller = ConnectLoopback(FPort);
}

}  // namespace qor::test
