#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/ProcessRunner.hpp"

namespace qor::test {

inline constexpr char OpenSSLPath[] = "/usr/bin/openssl";

// "openssl s_server" on 127.0.0.1 (or ::1) as a child of the test, serving one connection after
// another: what the client sends shows on its standard output, and lines written to its standard
// input go to the client. The constructor returns once it listens (and throws with its error output
// when it does not); the test's end kills it. Tests check QOR_REQUIRE_PROGRAM(OpenSSLPath) first.
class OpenSSLServer {
 public:
  // ACert and AKey default to the test PKI's server certificate; AArgs are further s_server options.
  // With AIpv6 it listens on ::1.
  explicit OpenSSLServer(const std::vector<std::string>& AArgs = {}, const std::string& ACert = "",
                         bool AIpv6 = false);

  uint16_t Port() const noexcept { return FPort; }
  ChildProcess& Process() noexcept { return *FChild; }

 private:
  uint16_t FPort;
  std::unique_ptr<ChildProcess> FChild;
};

}  // namespace qor::test
