#include "support/SocksProxies.hpp"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace qor::test {

namespace {

// Makes an ed25519 key pair without a passphrase at APath (and APath.pub).
void MakeKey(const std::string& APath) {
  const ProcessResult result = RunProcess(SshKeygenPath, {"-q", "-t", "ed25519", "-N", "", "-f", APath}, "");
  if (result.ExitCode != 0) throw std::runtime_error("ssh-keygen failed: " + result.Stderr);
}

std::string ReadTextFile(const std::string& APath) {
  std::ifstream file(APath);
  if (!file) throw std::runtime_error("cannot read " + APath);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void ReplaceAll(std::string& AText, const std::string& AFrom, const std::string& ATo) {
  for (size_t at = AText.find(AFrom); at != std::string::npos; at = AText.find(AFrom, at + ATo.size())) {
    AText.replace(at, AFrom.size(), ATo);
  }
}

std::string CurrentUser() {
  const passwd* entry = ::getpwuid(::geteuid());
  if (entry == nullptr) throw std::runtime_error("the current user has no name");
  return entry->pw_name;
}

}  // namespace

MicroSocksProxy::MicroSocksProxy(const std::string& AUsername, const std::string& APassword, bool AIpv6) {
  const uint16_t port = FreeLoopbackPort();
  FDaemon.emplace(MicroSocksPath,
                  std::vector<std::string>{"-i", AIpv6 ? "::1" : "127.0.0.1", "-p", std::to_string(port),
                                           "-u", AUsername, "-P", APassword},
                  port, AIpv6);
}

DanteProxy::DanteProxy(bool AIpv6) {
  const uint16_t port = FreeLoopbackPort();
  // Run by root, danted drops to nobody; run by a normal user, it must not be told to switch users,
  // which only root may do ("could not configure privileges"), and keeps running as that user.
  const std::string users = ::geteuid() == 0 ? "user.privileged: root\nuser.unprivileged: nobody\n" : "";
  const std::string config = FFolder.WriteFile("danted.conf", R"(logoutput: stderr
internal: )" + std::string(AIpv6 ? "::1" : "127.0.0.1") +
                                                                  " port = " + std::to_string(port) + R"(
external: lo
clientmethod: none
socksmethod: none
)" + users + R"(client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }
client pass { from: ::1/128 to: ::/0 }
socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 command: connect }
socks pass { from: ::1/128 to: 127.0.0.0/8 command: connect }
socks pass { from: ::1/128 to: ::1/128 command: connect }
)");
  const std::string pidFile = (FFolder.Path() / "danted.pid").string();
  FDaemon.emplace(DantedPath, std::vector<std::string>{"-f", config, "-N", "1", "-p", pidFile}, port, AIpv6);
}

SshSocksProxy::SshSocksProxy() {
  const std::string folder = FFolder.Path().string();
  MakeKey(folder + "/host_key");
  MakeKey(folder + "/user_key");
  std::filesystem::copy_file(folder + "/user_key.pub", folder + "/authorized_keys");
  // sshd's privilege separation folder; a normal user's sshd does without it.
  std::error_code ignored;
  std::filesystem::create_directories("/run/sshd", ignored);

  const uint16_t sshdPort = FreeLoopbackPort();
  // StrictModes is off in the template: the keys lie in a temporary folder that its checks would refuse.
  std::string config = ReadTextFile(QOR_SSHD_CONFIG_TEMPLATE);
  ReplaceAll(config, "@PORT@", std::to_string(sshdPort));
  ReplaceAll(config, "@FOLDER@", folder);
  config = FFolder.WriteFile("sshd_config", config);
  FServer.emplace(SshdPath, std::vector<std::string>{"-D", "-e", "-f", config}, sshdPort);

  const uint16_t socksPort = FreeLoopbackPort();
  FClient.emplace(SshPath,
                  std::vector<std::string>{"-N",
                                           "-n",
                                           "-F",
                                           "/dev/null",
                                           "-i",
                                           folder + "/user_key",
                                           "-p",
                                           std::to_string(sshdPort),
                                           "-D",
                                           "127.0.0.1:" + std::to_string(socksPort),
                                           "-o",
                                           "BatchMode=yes",
                                           "-o",
                                           "IdentitiesOnly=yes",
                                           "-o",
                                           "StrictHostKeyChecking=no",
                                           "-o",
                                           "UserKnownHostsFile=/dev/null",
                                           "-o",
                                           "GlobalKnownHostsFile=/dev/null",
                                           "-o",
                                           "CheckHostIP=no",
                                           "-o",
                                           "ExitOnForwardFailure=yes",
                                           "-o",
                                           "LogLevel=ERROR",
                                           CurrentUser() + "@127.0.0.1"},
                  socksPort);
}

}  // namespace qor::test
