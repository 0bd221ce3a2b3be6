#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/ProcessRunner.hpp"

namespace qor::test {

// True when the environment variable CI is "true".
bool InCI();

// Skips the test when the program at APath is missing; under CI, where ./test.sh has installed every
// program the tests use, a missing one fails the test instead.
#define QOR_REQUIRE_PROGRAM(APath)                                            \
  do {                                                                        \
    if (!std::filesystem::exists(APath)) {                                    \
      if (::qor::test::InCI()) FAIL() << (APath) << " is missing";            \
      GTEST_SKIP() << (APath) << " is not installed (./test.sh installs it)"; \
    }                                                                         \
  } while (0)

// A fresh folder under the system's temporary folder, removed with its contents when it goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const noexcept { return FPath; }
  // Writes AContents to the file AName in the folder and returns its absolute path.
  std::string WriteFile(const std::string& AName, const std::string& AContents) const;

 private:
  std::filesystem::path FPath;
};

// A TCP port on 127.0.0.1 that nothing listens on at the moment of the call.
uint16_t FreeLoopbackPort();

// A daemon that runs in the foreground as a child of the test and listens on 127.0.0.1:Port (with
// AIpv6 on [::1]:Port). The
// constructor returns once the port accepts connections, and throws with the daemon's error output
// when it ends or stays deaf instead. The destructor stops it with SIGTERM (SIGKILL after a grace
// period) and reaps it, also when the test has failed.
class ProxyDaemon {
 public:
  ProxyDaemon(const std::string& APath, const std::vector<std::string>& AArgs, uint16_t APort,
              bool AIpv6 = false);
  ~ProxyDaemon();
  ProxyDaemon(const ProxyDaemon&) = delete;
  ProxyDaemon& operator=(const ProxyDaemon&) = delete;

  uint16_t Port() const noexcept { return FPort; }

 private:
  std::unique_ptr<ChildProcess> FChild;
  uint16_t FPort;
};

}  // namespace qor::test
