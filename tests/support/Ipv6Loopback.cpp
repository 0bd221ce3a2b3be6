#include "support/Ipv6Loopback.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace qor::test {

bool CanBindIpv6Loopback() {
  return BoundSocket6().Valid();
}

UniqueFd BoundSocket6(uint16_t APort, int ABacklog) {
  UniqueFd socket(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.Valid()) return {};
  const int one = 1;
  ::setsockopt(socket.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(APort);
  address.sin6_addr = in6addr_loopback;
  if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return {};
  if (ABacklog >= 0 && ::listen(socket.Get(), ABacklog) != 0) return {};
  return socket;
}

uint16_t BoundPort(const UniqueFd& ASocket) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  ::getsockname(ASocket.Get(), reinterpret_cast<sockaddr*>(&address), &length);
  return address.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port)
                                       : ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

}  // namespace qor::test
