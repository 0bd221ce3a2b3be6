#include "support/ProxyDaemon.hpp"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "support/Posix.hpp"
#include "support/UniqueFd.hpp"

namespace qor::test {

using namespace std::chrono_literals;

namespace {

// True when a connect to APort on 127.0.0.1 (or on ::1 with AIpv6) succeeds.
bool Accepts(uint16_t APort, bool AIpv6) {
  const UniqueFd probe(::socket(AIpv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!AIpv6) {
    const sockaddr_in address = LoopbackAddress(APort);
    return ::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(APort);
  address.sin6_addr = in6addr_loopback;
  return ::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace

bool InCI() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qor-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) ThrowSystemError("mkdtemp");
  FPath = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

std::string TempDir::WriteFile(const std::string& AName, const std::string& AContents) const {
  const std::filesystem::path path = FPath / AName;
  std::ofstream(path) << AContents;
  return path.string();
}

uint16_t FreeLoopbackPort() {
  const UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  if (::bind(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ThrowSystemError("bind to a free port");
  }
  return ntohs(address.sin_port);
}

ProxyDaemon::ProxyDaemon(const std::string& APath, const std::vector<std::string>& AArgs, uint16_t APort,
                         bool AIpv6)
    : FChild(std::make_unique<ChildProcess>(APath, AArgs, ProcessOptions{.TimeLimit = 10min})), FPort(APort) {
  // Nothing tells when a daemon starts to listen, so its port is tried until it answers; waiting for
  // the daemon's end between the tries notices at once a daemon that gave up.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!Accepts(APort, AIpv6)) {
    if (FChild->WaitForEnd(20ms) || std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error(APath + " did not start listening on port " + std::to_string(APort) + ":\n" +
                               FChild->Stderr());
    }
  }
}

ProxyDaemon::~ProxyDaemon() {
  // The test's own child, by its pid; a graceful stop lets danted and sshd take their helpers along.
  if (!FChild->WaitForEnd(0ms)) ::kill(FChild->Pid(), SIGTERM);
  FChild->WaitForEnd(5s);  // then the child's destructor kills what is left and reaps it
}

}  // namespace qor::test
