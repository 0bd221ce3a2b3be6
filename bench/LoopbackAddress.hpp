#pragma once

// The loopback address of either family for the end-to-end benchmark's programs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

namespace qor::bench {

// 127.0.0.1 (or ::1 with AIpv6) and APort in VAddress; its length.
inline socklen_t LoopbackSockAddr(bool AIpv6, uint16_t APort, sockaddr_storage& VAddress) {
  VAddress = {};
  if (AIpv6) {
    auto& address = reinterpret_cast<sockaddr_in6&>(VAddress);
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    address.sin6_port = htons(APort);
    return sizeof address;
  }
  auto& address = reinterpret_cast<sockaddr_in&>(VAddress);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(APort);
  return sizeof address;
}

// The port of an address of either family.
inline uint16_t SockAddrPort(const sockaddr_storage& AAddress) {
  return ntohs(AAddress.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(AAddress).sin6_port
                                              : reinterpret_cast<const sockaddr_in&>(AAddress).sin_port);
}

// Takes a leading "-6" off the program's parameters; true when there was one.
inline bool TakeIpv6Option(int& VArgc, char**& VArgv) {
  if (VArgc < 2 || VArgv[1][0] != '-' || VArgv[1][1] != '6' || VArgv[1][2] != '\0') return false;
  --VArgc;
  ++VArgv;
  VArgv[0] = VArgv[-1];
  return true;
}

}  // namespace qor::bench
