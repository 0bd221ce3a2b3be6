#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include "support/Posix.hpp"
#include "support/UniqueFd.hpp"

namespace qor {

using test::UniqueFd;

// Two ends of one TCP connection over 127.0.0.1, made with the system's calls.
struct TLoopbackPair {
  UniqueFd Client{::socket(AF_INET, SOCK_STREAM, 0)};
  UniqueFd Server;

  TLoopbackPair() {
    const UniqueFd listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = test::LoopbackAddress(0);
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    socklen_t length = sizeof address;
    if (::bind(listener.Get(), raw, length) == 0 && ::listen(listener.Get(), 1) == 0 &&
        ::getsockname(listener.Get(), raw, &length) == 0 && ::connect(Client.Get(), raw, length) == 0) {
      Server.Reset(::accept(listener.Get(), nullptr, nullptr));
    }
  }
};

}  // namespace qor
