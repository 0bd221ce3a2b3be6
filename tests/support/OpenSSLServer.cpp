#include "support/OpenSSLServer.hpp"

#include <chrono>
#include <stdexcept>

#include "support/ProxyDaemon.hpp"
#include "support/TestPki.hpp"

namespace qor::test {

OpenSSLServer::OpenSSLServer(const std::vector<std::string>& AArgs, const std::string& ACert, bool AIpv6)
    : FPort(FreeLoopbackPort()) {
  const TestPki& pki = TestPki::Get();
  const std::string where = (AIpv6 ? "[::1]:" : "127.0.0.1:") + std::to_string(FPort);
  std::vector<std::string> args = {
      "s_server", "-accept", where, "-cert", ACert.empty() ? pki.ServerCert : ACert, "-key", pki.ServerKey};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  ProcessOptions options;
  options.TimeLimit = std::chrono::minutes(2);
  FChild = std::make_unique<ChildProcess>(OpenSSLPath, args, options);
  if (!FChild->WaitForStdout("ACCEPT", std::chrono::seconds(10))) {
    throw std::runtime_error("openssl s_server did not start: " + FChild->Stderr());
  }
}

}  // namespace qor::test
