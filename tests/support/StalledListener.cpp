#include "support/StalledListener.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <system_error>

namespace qor::test {

namespace {

[[noreturn]] void ThrowSystemError(const char* AWhat) {
  throw std::system_error(errno, std::generic_category(), AWhat);
}

}  // namespace

StalledListener::StalledListener() {
  FListener.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!FListener.Valid()) ThrowSystemError("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  // A backlog of 0 leaves room for exactly one connection that is not accepted.
  if (::bind(FListener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(FListener.Get(), 0) != 0 ||
      ::getsockname(FListener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ThrowSystemError("bind/listen");
  }
  FPort = ntohs(address.sin_port);
  FFiller.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!FFiller.Valid() ||
      ::connect(FFiller.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ThrowSystemError("connect");
  }
}

}  // namespace qor::test
