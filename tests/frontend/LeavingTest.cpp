// How a run ends: EXIT while connected, the ENTER wait, and a console that cannot be written.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>

#include "frontend/Transcript.hpp"
#include "support/LoopbackServer.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;
using namespace transcript;

TEST(Leaving, ExitWhileConnectedClosesTheConnectionAndWaitsForEnter) {
  LoopbackServer server(ServerScript().WaitFor("\r\n").Send("HI\r\n\r\n"));
  ChildProcess client(QOR_CLIENT_PATH, {"-SP", std::to_string(server.Port())});
  client.Write("q hi\nexit\n");
  ASSERT_TRUE(client.WaitForStdout(Stopped, 10s));
  EXPECT_TRUE(server.WaitForPeerClose(5s));
  // Whatever is typed at the ENTER wait is ignored.
  client.Write("anything\n");
  const ProcessResult run = client.Wait();
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_EQ(run.Stdout, Banner + "\n< SETTING PORT\n< PORT SET\n\n" + Started + Prompt +
                            "< QUOTING COMMAND\nHI\n< COMMAND QUOTED\n" + Prompt + Stopping + Stopped);
}

// The uncaught-error report of a console write that failed with AReason.
void ExpectConsoleFailure(const ProcessResult& ARun, const std::string& AReason) {
  EXPECT_EQ(ARun.ExitCode, 1);
  EXPECT_TRUE(std::regex_match(
      ARun.Stderr,
      std::regex("Exception EInOutError in module qorclnt at [0-9A-F]{8}\\.\n" + AReason + "\\.\n")))
      << ARun.Stderr;
}

TEST(Leaving, AStandardOutputThatCannotBeWrittenEndsTheRunWithTheReport) {
  ProcessOptions full;
  full.StdoutToDevFull = true;
  ExpectConsoleFailure(RunProcess(QOR_CLIENT_PATH, {}, "help\n", full), "No space left on device");

  ProcessOptions closed;
  closed.CloseStdout = true;
  ExpectConsoleFailure(RunProcess(QOR_CLIENT_PATH, {}, "help\n", closed), "Bad file descriptor");
}

}  // namespace
}  // namespace qor::test
