// The connect retry loop against a port that refuses and a name that does not resolve: it retries
// without end but sleeps between attempts, so it costs almost no CPU, and it recovers once the
// server is there.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "fault/ClientRun.hpp"
#include "support/FreePort.hpp"
#include "support/PrivateResolver.hpp"
#include "support/ProcStat.hpp"

namespace qor::test::fault {
namespace {

using namespace std::chrono_literals;
using namespace transcript;
using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

const std::string Failed = "< CONNECTION FAILED\n";

// Lets the client retry for at least a few seconds after its first failed attempt, and checks that
// it does not spin (its CPU time over that span stays under half the wall time) and that the
// attempts leave no descriptor or thread behind (one attempt may be under way when they are counted).
void ExpectQuietRetries(ChildProcess& AClient) {
  ASSERT_TRUE(AClient.WaitForStdout(Failed, 10s));
  const auto started = steady_clock::now();
  const milliseconds cpuAtStart = ProcessCpuTime(AClient.Pid());
  const size_t descriptors = OpenDescriptorCount(AClient.Pid());
  const size_t threads = ThreadCount(AClient.Pid());
  int attempts = 0;
  while (steady_clock::now() - started < 3s) {
    ASSERT_TRUE(AClient.WaitForStdout(Failed, 10s)) << "the attempts stopped";
    ++attempts;
  }
  const auto wall = duration_cast<milliseconds>(steady_clock::now() - started);
  const milliseconds cpu = ProcessCpuTime(AClient.Pid()) - cpuAtStart;
  EXPECT_LE(OpenDescriptorCount(AClient.Pid()), descriptors + 1);
  EXPECT_LE(ThreadCount(AClient.Pid()), threads + 1);
  // A generous bound that only a spinning loop breaks; the share itself is a benchmark's figure.
  EXPECT_LT(cpu * 2, wall) << "CPU " << cpu.count() << " ms over " << wall.count() << " ms";
  // Each attempt lasts at least the first step of the timed connect (125 ms).
  EXPECT_LE(attempts, wall.count() / 100);
  std::printf("[ figures  ] %d attempts in %lld ms, CPU %lld ms\n", attempts,
              static_cast<long long>(wall.count()), static_cast<long long>(cpu.count()));
}

// The number of attempt lines that follow ABefore, with which AOutput must start.
size_t CountFailures(const std::string& AOutput, const std::string& ABefore) {
  EXPECT_EQ(AOutput.substr(0, ABefore.size()), ABefore);
  size_t count = 0;
  for (size_t at = ABefore.size(); AOutput.compare(at, Failed.size(), Failed) == 0; at += Failed.size())
    ++count;
  return count;
}

TEST(RetryLoop, ARefusedPortIsRetriedQuietlyUntilTheServerIsThere) {
  std::optional<RefusingPort> refusing(std::in_place);
  const uint16_t port = refusing->Port();
  ChildProcess client(QOR_CLIENT_PATH, PortArgs(port), {.TimeLimit = 60s});
  client.Write("q hello\n");
  ExpectQuietRetries(client);

  refusing.reset();
  LoopbackServer server(ServerScript().WaitFor("\r\n").Send("THERE\r\n\r\n"), port);
  ASSERT_TRUE(client.WaitForStdout(ReplyEnd, 10s));
  client.CloseStdin();
  const ProcessResult run = client.Wait();
  ExpectEnded(run, 0, 5s);
  const std::string before = Banner + PortLines + Started + Prompt + "< QUOTING COMMAND\n";
  const size_t failures = CountFailures(run.Stdout, before);
  EXPECT_GE(failures, 10u);
  std::string expected = before;
  for (size_t i = 0; i < failures; ++i) expected += Failed;
  EXPECT_EQ(run.Stdout, expected + "THERE\n" + ReplyEnd + Stopping + Stopped);
  EXPECT_EQ(server.Received(), "HELLO\r\n");
}

TEST(RetryLoop, AnUnresolvableNameIsRetriedQuietly) {
  QOR_REQUIRE_PRIVATE_NAMESPACE();
  ChildProcess client(QOR_CLIENT_PATH, {"-SH", "nowhere.invalid"},
                      {.TimeLimit = 60s, .PrivateHostLookup = true});
  client.Write("q hello\n");
  ExpectQuietRetries(client);
  // The loop never ends by itself.
  ASSERT_EQ(::kill(client.Pid(), SIGTERM), 0);
  const ProcessResult run = client.Wait();
  EXPECT_FALSE(run.TimedOut);
  EXPECT_EQ(run.Signal, SIGTERM);
  EXPECT_LT(run.CpuTime, 5s);
  const std::string before =
      Banner + "\n< SETTING HOST\n< HOST SET\n\n" + Started + Prompt + "< QUOTING COMMAND\n";
  const size_t failures = CountFailures(run.Stdout, before);
  EXPECT_GE(failures, 10u);
  EXPECT_EQ(run.Stdout.size(), before.size() + failures * Failed.size()) << run.Stdout;
}

}  // namespace
}  // namespace qor::test::fault
