// Connecting on demand: the retry loop and its pace.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "frontend/Transcript.hpp"
#include "support/FreePort.hpp"
#include "support/LoopbackServer.hpp"
#include "support/PrivateResolver.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

size_t CountOf(const std::string& AText, const std::string& ALine) {
  size_t count = 0;
  for (size_t at = AText.find(ALine); at != std::string::npos; at = AText.find(ALine, at + ALine.size()))
    ++count;
  return count;
}

// Failed attempts per second over two seconds of a client that keeps failing.
double FailuresPerSecond(ChildProcess& AClient) {
  const std::string failed = "< CONNECTION FAILED\n";
  EXPECT_TRUE(AClient.WaitForStdout(failed, 10s));
  const size_t before = CountOf(AClient.Stdout(), failed);
  const auto started = Clock::now();
  std::this_thread::sleep_for(2s);
  const size_t after = CountOf(AClient.Stdout(), failed);
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  return static_cast<double>(after - before) / seconds;
}

TEST(Connecting, ARefusedPortIsRetriedAtAboutEightASecondUntilAServerListens) {
  const uint16_t port = RefusedPort();
  ChildProcess client(QOR_CLIENT_PATH, {"-SP", std::to_string(port)});
  client.Write("q hello\n");
  const double rate = FailuresPerSecond(client);
  EXPECT_GE(rate, 2.0);
  EXPECT_LE(rate, 10.0);

  LoopbackServer server(ServerScript().WaitFor("\r\n").Send("WELCOME\r\n\r\n"), port);
  EXPECT_TRUE(client.WaitForStdout("< CONNECTION FAILED\nWELCOME\n< COMMAND QUOTED\n", 10s));
  client.CloseStdin();
  const ProcessResult run = client.Wait();
  EXPECT_EQ(server.Received(), "HELLO\r\n");
  EXPECT_EQ(run.ExitCode, 0);
}

// An unknown name fails at once; the client paces its attempts all the same. The name is looked up
// in a mount namespace whose resolver reads only /etc/hosts, so no query leaves the machine.
TEST(Connecting, AnUnresolvableHostIsRetriedAtTheSamePace) {
  QOR_REQUIRE_PRIVATE_NAMESPACE();
  ProcessOptions options;
  options.PrivateHostLookup = true;
  ChildProcess client(QOR_CLIENT_PATH, {"-SH", "nowhere.invalid"}, options);
  client.Write("q hello\n");
  const double rate = FailuresPerSecond(client);
  EXPECT_GE(rate, 2.0);
  EXPECT_LE(rate, 10.0);
}

}  // namespace
}  // namespace qor::test
