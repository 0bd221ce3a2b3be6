// The console with an IPv6 host, given as a parameter or at the prompt, against qordemod on ::1.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "frontend/Transcript.hpp"
#include "support/Ipv6Loopback.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;
using namespace transcript;

// qordemod listening on [::1] at a free port.
class Ipv6DemoServer {
 public:
  Ipv6DemoServer() {
    const std::string path = (std::filesystem::path(QOR_CLIENT_PATH).parent_path() / "qordemod").string();
    FServer = std::make_unique<ChildProcess>(path, std::vector<std::string>{"-6", "0"},
                                             ProcessOptions{.TimeLimit = 120s});
    const std::string announce = "qordemod: listening on [::1]:";
    if (!FServer->WaitForStdout("\n", 10s)) throw std::runtime_error("qordemod did not start");
    const std::string first = FServer->Stdout();
    if (first.rfind(announce, 0) != 0) throw std::runtime_error("qordemod said: " + first);
    Port = first.substr(announce.size(), first.size() - announce.size() - 1);
  }

  std::string Port;

 private:
  std::unique_ptr<ChildProcess> FServer;  // killed and reaped when the test ends
};

const std::string HostLines = "\n< SETTING HOST\n< HOST SET\n\n";
const std::string PortLines = "\n< SETTING PORT\n< PORT SET\n\n";

TEST(Ipv6Host, ParameterAndCommandTakeIpv6AddressesWithOrWithoutBrackets) {
  QOR_REQUIRE_IPV6();
  const Ipv6DemoServer server;
  const ProcessResult plain =
      RunClient({"-SH", "::1", "-SP", server.Port}, "q hello\nsh [::1]\nq again\nsethost 0::1\nthird\n");
  EXPECT_EQ(plain.Stdout, Session(HostLines + PortLines, {"< QUOTING COMMAND\nOK HELLO\n< COMMAND QUOTED\n",
                                                          "< SETTING HOST\n< HOST SET\n",
                                                          "< QUOTING COMMAND\nOK AGAIN\n< COMMAND QUOTED\n",
                                                          "< SETTING HOST\n< HOST SET\n", "OK THIRD\n"}));
  EXPECT_EQ(plain.ExitCode, 0);

  const ProcessResult bracketed = RunClient({"-sh", "[::1]", "-sp", server.Port}, "quote hello\n");
  EXPECT_EQ(bracketed.Stdout,
            Session(HostLines + PortLines, {"< QUOTING COMMAND\nOK HELLO\n< COMMAND QUOTED\n"}));
}

}  // namespace
}  // namespace qor::test
