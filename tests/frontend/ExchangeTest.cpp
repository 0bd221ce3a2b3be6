// Lines sent to a server and the replies printed, against scripted servers on loopback.
#include <gtest/gtest.h>

#include <chrono>

#include "frontend/Transcript.hpp"
#include "support/LoopbackServer.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using namespace transcript;

std::vector<std::string> PortArgs(const LoopbackServer& AServer) {
  return {"-SP", std::to_string(AServer.Port())};
}
const std::string PortLines = "\n< SETTING PORT\n< PORT SET\n\n";

TEST(Exchange, QuoteSendsTheUpperCasedArgumentAndPrintsTheReplyUntilABlankLine) {
  LoopbackServer server(
      ServerScript().WaitFor("\r\n").Send("LINE ONE\r\n  OK  \r\nlast\n \t \r\nnot shown\r\n"));
  const ProcessResult run = RunClient(PortArgs(server), "quote hello world\n");
  EXPECT_EQ(server.Received(), "HELLO WORLD\r\n");
  EXPECT_EQ(run.Stdout,
            Session(PortLines, {"< QUOTING COMMAND\nLINE ONE\n  OK  \nlast\n< COMMAND QUOTED\n"}));
}

TEST(Exchange, ALineThatIsNoCommandIsSentWithoutFraming) {
  LoopbackServer server(ServerScript()
                            .WaitFor("\r\n")
                            .Send("R1\r\n\r\n")
                            .WaitFor("\r\n")
                            .Send("R2\r\n\r\n")
                            .WaitFor("\r\n")
                            .Send("R3\r\n\r\n")
                            .WaitFor("\r\n")
                            .Send("R4\r\n\r\n"));
  const ProcessResult run = RunClient(PortArgs(server), "foo bar\n   \nQ\nSP\t80\n");
  // One connection serves every exchange; the tab does not split the line.
  EXPECT_EQ(server.Received(), "FOO BAR\r\n\r\n\r\nSP\t80\r\n");
  EXPECT_EQ(server.ConnectionCount(), 1u);
  EXPECT_EQ(run.Stdout,
            Session(PortLines, {"R1\n", "R2\n", "< QUOTING COMMAND\nR3\n< COMMAND QUOTED\n", "R4\n"}));
}

TEST(Exchange, SilenceEndsTheReplyAfterTheTimeoutAndLateLinesOpenTheNextReply) {
  LoopbackServer server(ServerScript()
                            .WaitFor("\r\n")
                            .Send("EARLY\r\n")
                            .Silence(1500ms)
                            .Send("LATE\r\n\r\n")
                            .WaitFor("\r\n")
                            .Send("SECOND\r\n\r\n"));
  const auto started = std::chrono::steady_clock::now();
  // The first reply ends 1000 ms after EARLY; LATE comes 500 ms into the second one's wait.
  const ProcessResult run = RunClient(PortArgs(server), "q one\nq two\n");
  EXPECT_GE(std::chrono::steady_clock::now() - started, 1000ms);
  EXPECT_EQ(run.Stdout, Session(PortLines, {"< QUOTING COMMAND\nEARLY\n< COMMAND QUOTED\n",
                                            "< QUOTING COMMAND\nLATE\n< COMMAND QUOTED\n"}));
}

TEST(Exchange, ACloseInTheMiddleOfALineEndsTheReplyWithoutThePartialLine) {
  LoopbackServer server(ServerScript().WaitFor("\r\n").Send("WHOLE\r\nPART").Close());
  const ProcessResult run = RunClient(PortArgs(server), "q x\n");
  EXPECT_EQ(run.Stdout, Session(PortLines, {"< QUOTING COMMAND\nWHOLE\n< COMMAND QUOTED\n"}));
}

TEST(Exchange, AServerThatClosedWhileIdleIsNoticedByTheNextReplyAndThenReconnected) {
  LoopbackServer server({ServerScript().WaitFor("\r\n").Send("FIRST\r\n\r\n").Close(),
                         ServerScript().WaitFor("\r\n").Send("THIRD\r\n\r\n")});
  ChildProcess client(QOR_CLIENT_PATH, PortArgs(server));
  client.Write("q one\n");
  ASSERT_TRUE(client.WaitForStdout("< COMMAND QUOTED\n", 10s));
  ASSERT_TRUE(server.WaitForConnections(1, 5s));
  client.Write("q two\nq three\n");
  client.CloseStdin();
  const ProcessResult run = client.Wait();
  EXPECT_EQ(server.ConnectionCount(), 2u);
  EXPECT_EQ(server.Received(1), "THREE\r\n");
  EXPECT_EQ(run.Stdout, Session(PortLines, {"< QUOTING COMMAND\nFIRST\n< COMMAND QUOTED\n",
                                            "< QUOTING COMMAND\n< COMMAND QUOTED\n",
                                            "< QUOTING COMMAND\nTHIRD\n< COMMAND QUOTED\n"}));
}

TEST(Exchange, AnOverLongLineEndsEveryReplyUntilTheConnectionIsMadeAnew) {
  const std::string longLine(20000, 'x');
  LoopbackServer server({ServerScript()
                             .WaitFor("\r\n")
                             .Send("SHORT\r\n" + longLine + "\r\n")
                             .WaitFor("\r\n")
                             .Send("NEXT\r\n\r\n"),
                         ServerScript().WaitFor("\r\n").Send("FRESH\r\n\r\n")});
  const ProcessResult run = RunClient(PortArgs(server), "q a\nq b\nST 1000\nq c\n");
  EXPECT_EQ(run.Stdout,
            Session(PortLines,
                    {"< QUOTING COMMAND\nSHORT\n< COMMAND QUOTED\n", "< QUOTING COMMAND\n< COMMAND QUOTED\n",
                     "< SETTING TIMEOUT\n< TIMEOUT SET\n", "< QUOTING COMMAND\nFRESH\n< COMMAND QUOTED\n"}));
}

TEST(Exchange, BytesArePassedThroughExactly) {
  LoopbackServer server(ServerScript().WaitFor("\r\n").Send("A\0B\xff\r\r\nC\rD\n\n"s));
  const ProcessResult run = RunClient(PortArgs(server), "q bytes\n");
  // One CR before the LF is dropped; a lone CR is part of the line.
  EXPECT_EQ(run.Stdout, Session(PortLines, {"< QUOTING COMMAND\nA\0B\xff\r\nC\rD\n< COMMAND QUOTED\n"s}));
}

}  // namespace
}  // namespace qor::test
