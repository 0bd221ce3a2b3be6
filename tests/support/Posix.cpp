#include "support/Posix.hpp"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <system_error>

extern char** environ;

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

std::vector<std::string> MergeEnvironment(const std::vector<std::string>& AExtra) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) result.emplace_back(*entry);
  for (const std::string& extra : AExtra) {
    const std::string name = extra.substr(0, extra.find('=') + 1);
    std::erase_if(result, [&](const std::string& e) { return e.starts_with(name); });
    result.push_back(extra);
  }
  return result;
}

std::vector<char*> PointersTo(std::vector<std::string>& AStrings) {
  std::vector<char*> result;
  for (std::string& s : AStrings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace qor::test
