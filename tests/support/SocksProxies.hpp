#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "support/ProxyDaemon.hpp"

namespace qor::test {

// Real SOCKS proxies from the system's packages, each on loopback with a configuration generated in
// a temporary folder, and allowed to reach loopback only. Tests check QOR_REQUIRE_PROGRAM first.
inline constexpr char MicroSocksPath[] = "/usr/bin/microsocks";
inline constexpr char DantedPath[] = "/usr/sbin/danted";
inline constexpr char SshdPath[] = "/usr/sbin/sshd";
inline constexpr char SshPath[] = "/usr/bin/ssh";
inline constexpr char SshKeygenPath[] = "/usr/bin/ssh-keygen";

// microsocks: SOCKS 5 that demands a user name and password, on 127.0.0.1 (with AIpv6 on ::1).
class MicroSocksProxy {
 public:
  MicroSocksProxy(const std::string& AUsername, const std::string& APassword, bool AIpv6 = false);
  uint16_t Port() const noexcept { return FDaemon->Port(); }

 private:
  std::optional<ProxyDaemon> FDaemon;
};

// danted: SOCKS 4 and SOCKS 5 without authentication, on 127.0.0.1 (with AIpv6 on ::1).
class DanteProxy {
 public:
  explicit DanteProxy(bool AIpv6 = false);
  uint16_t Port() const noexcept { return FDaemon->Port(); }

 private:
  TempDir FFolder;
  std::optional<ProxyDaemon> FDaemon;
};

// OpenSSH's dynamic forwarding (SOCKS 4, 4A and 5): an sshd on loopback with a generated host key
// that lets the current user in with a generated key, and an "ssh -N -D" logged in to it. Root's sshd
// separates privileges (in /run/sshd); a normal user's runs as that user.
class SshSocksProxy {
 public:
  SshSocksProxy();
  uint16_t Port() const noexcept { return FClient->Port(); }

 private:
  TempDir FFolder;
  std::optional<ProxyDaemon> FServer;  // declared before the client, so the client stops first
  std::optional<ProxyDaemon> FClient;
};

}  // namespace qor::test
