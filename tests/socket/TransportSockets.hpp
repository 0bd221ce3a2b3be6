#pragma once

// What the transport tests need beyond the loopback server: ports that refuse or are held bound, a
// listener whose queue is full. Everything stays on 127.0.0.1.

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <list>
#include <string>

#include "support/MessageOf.hpp"
#include "support/Posix.hpp"
#include "support/UniqueFd.hpp"

namespace qor::transport_test {

using test::LoopbackAddress;
using test::MessageOf;
using test::UniqueFd;

inline int LocalPort(int AFd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ::getsockname(AFd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// A socket bound to 127.0.0.1:APort (0: the system's choice), listening with ABacklog unless that is
// negative; a connect to one that does not listen is refused. Invalid when the port is taken.
inline UniqueFd BoundSocket(int APort = 0, int ABacklog = -1) {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
  const sockaddr_in address = LoopbackAddress(static_cast<uint16_t>(APort));
  if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return {};
  if (ABacklog >= 0) ::listen(socket.Get(), ABacklog);
  return socket;
}

// A listener with backlog 0 whose queue is filled with connections never accepted: the kernel then
// drops further SYNs, so a connect to it blocks.
struct FullListener {
  UniqueFd Listening = BoundSocket(0, 0);
  int Port = LocalPort(Listening.Get());
  std::list<UniqueFd> Queued;

  FullListener() {
    const sockaddr_in address = LoopbackAddress(static_cast<uint16_t>(Port));
    for (pollfd entry{-1, POLLOUT, 0}; Queued.size() < 8 && (entry.fd < 0 || ::poll(&entry, 1, 200) == 1);) {
      entry.fd = Queued.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0)).Get();
      ::connect(entry.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
  }
};

}  // namespace qor::transport_test
