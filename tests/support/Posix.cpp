#include "support/Posix.hpp"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <system_error>

namespace qor::test {

void ThrowSystemError(const char* AWhat, int AError) {
  throw std::system_error(AError, std::generic_category(), AWhat);
}

sockaddr_in LoopbackAddress(uint16_t APort) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(APort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

UniqueFd ConnectLoopback(uint16_t APort) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) ThrowSystemError("socket");
  const sockaddr_in address = LoopbackAddress(APort);
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ThrowSystemError("connect");
  }
  return fd;
}

void SignalEventFd(const UniqueFd& AFd) {
  const uint64_t one = 1;
  while (::write(AFd.Get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

}  // namespace qor::test
