// The console client with standard streams that fail: a reader that leaves early, a full device,
// closed descriptors, the end of input. Every run ends by itself with the right exit status, reports
// on standard error only when it is open, and never sends anything else to the server.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

#include "fault/ClientRun.hpp"

namespace qor::test::fault {
namespace {

using namespace std::chrono_literals;
using namespace transcript;

// The uncaught-error report of a console that failed with AReason.
std::string ConsoleReport(const std::string& AReason) {
  return "Exception EInOutError in module qorclnt at [0-9A-F]{8}\\.\n" + AReason + "\\.\n";
}

const std::string FirstReply =
    PortLines + Started + Prompt + "< QUOTING COMMAND\nONE\n< COMMAND QUOTED\n" + Prompt;

TEST(BrokenStreams, AReaderThatLeavesEarlyEndsTheRunWithStatusOneAndNothingMoreReachesTheServer) {
  for (const bool errorClosed : {false, true}) {
    SCOPED_TRACE(errorClosed ? "standard error closed" : "standard error open");
    LoopbackServer server(ServerScript().WaitFor("\r\n").Send("ONE\r\n\r\n"));
    ChildProcess client(QOR_CLIENT_PATH, PortArgs(server.Port()),
                        {.TimeLimit = 30s, .CloseStderr = errorClosed});
    client.Write("q one\n");
    ASSERT_TRUE(client.WaitForStdout(ReplyEnd, 10s));
    // Connected now; the next line written fails (SIGPIPE is ignored, so EPIPE).
    client.CloseStdoutReader();
    client.Write("q two\n");
    client.CloseStdin();
    const ProcessResult run = client.Wait();

    ExpectEnded(run, 1, 3s);
    EXPECT_EQ(run.Stdout, Banner + FirstReply);
    if (errorClosed) {
      EXPECT_EQ(run.Stderr, "");
    } else {
      EXPECT_TRUE(std::regex_match(run.Stderr, std::regex(ConsoleReport("Broken pipe")))) << run.Stderr;
    }
    // The report went nowhere near the socket, and the connection was closed at the clean-up.
    EXPECT_TRUE(server.WaitForPeerClose(5s));
    EXPECT_EQ(server.Received(), "ONE\r\n");
  }
}

TEST(BrokenStreams, TheEndOfInputWhileConnectedEndsTheRunAsExitWhetherStandardErrorIsOpenOrNot) {
  for (const bool errorClosed : {false, true}) {
    SCOPED_TRACE(errorClosed ? "standard error closed" : "standard error open");
    LoopbackServer server(ServerScript().WaitFor("\r\n").Send("ONE\r\n\r\n"));
    const ProcessResult run = RunProcess(QOR_CLIENT_PATH, PortArgs(server.Port()), "q one\n",
                                         {.TimeLimit = 30s, .CloseStderr = errorClosed});
    ExpectEnded(run, 0, 3s);
    EXPECT_EQ(run.Stdout, Banner + FirstReply + Stopping + Stopped);
    EXPECT_EQ(run.Stderr, "");
    EXPECT_TRUE(server.WaitForPeerClose(5s));
    EXPECT_EQ(server.Received(), "ONE\r\n");
  }
}

TEST(BrokenStreams, ClosedAndFullStreamsEndTheRunWithStatusOne) {
  struct TCase {
    const char* Name;
    ProcessOptions Options;
    std::string Stdout;
    std::string StderrPattern;
  };
  const std::string toPrompt = Banner + Started + Prompt;
  const TCase cases[] = {
      {"input closed", {.CloseStdin = true}, toPrompt, ConsoleReport("Bad file descriptor")},
      {"input and error closed", {.CloseStdin = true, .CloseStderr = true}, toPrompt, ""},
      {"output full, error closed", {.StdoutToDevFull = true, .CloseStderr = true}, "", ""},
      {"output and error closed", {.CloseStdout = true, .CloseStderr = true}, "", ""},
      {"all three closed", {.CloseStdin = true, .CloseStdout = true, .CloseStderr = true}, "", ""},
  };
  for (TCase c : cases) {
    SCOPED_TRACE(c.Name);
    c.Options.TimeLimit = 30s;
    const ProcessResult run = RunProcess(QOR_CLIENT_PATH, {}, "help\n", c.Options);
    ExpectEnded(run, 1, 3s);
    EXPECT_EQ(run.Stdout, c.Stdout);
    EXPECT_TRUE(std::regex_match(run.Stderr, std::regex(c.StderrPattern))) << run.Stderr;
  }
}

}  // namespace
}  // namespace qor::test::fault
