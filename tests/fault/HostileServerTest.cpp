// The console client against servers that reset, close, drip, and send every byte value: each reply
// ends cleanly, the client keeps working, and every byte is printed as the line rules say.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "fault/ClientRun.hpp"
#include "support/ProcStat.hpp"

namespace qor::test::fault {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using namespace transcript;
using std::chrono::steady_clock;

std::string Quoted(const std::string& ALines) {
  return "< QUOTING COMMAND\n" + ALines + "< COMMAND QUOTED\n";
}

TEST(HostileServer, AResetOrACloseInTheMiddleOfAReplyEndsItAndTheNextCommandConnectsAnew) {
  LoopbackServer server(
      {ServerScript().WaitFor("\r\n").Send("A\r\nB\r\nPART").Reset(),  // partial line buffered
       ServerScript().WaitFor("\r\n").Send("C\r\n").Reset(),           // nothing buffered
       ServerScript().WaitFor("\r\n").Send("D\r\nPARTIAL").Close(),
       ServerScript().WaitFor("\r\n").Send("E\r\n\r\n")});
  const ProcessResult run = RunClient(PortArgs(server.Port()), "q one\nq two\nq three\nq four\n");
  ExpectEnded(run, 0, 3s);
  // A partial line before a reset or a close is not printed.
  EXPECT_EQ(run.Stdout, Session(PortLines, {Quoted("A\nB\n"), Quoted("C\n"), Quoted("D\n"), Quoted("E\n")}));
  EXPECT_EQ(run.Stderr, "");
  ASSERT_EQ(server.ConnectionCount(), 4u);
  const std::vector<std::string> lines = {"ONE\r\n", "TWO\r\n", "THREE\r\n", "FOUR\r\n"};
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(server.Received(i), lines[i]) << "connection " << i;
}

TEST(HostileServer, AReplyDrippedByteByByteIsAssembledExactlyWithoutATimeOut) {
  // The first line takes longer to arrive than the read time-out of 1000 ms, which bounds each wait
  // for data, not a whole line.
  const std::string longLine = "SLOW " + std::string(110, '.') + " LINE";
  const std::string reply = longLine + "\r\nSECOND\r\n\r\n";
  ServerScript script;
  script.WaitFor("\r\n");
  for (const char byte : reply) script.Send(std::string(1, byte)).Silence(10ms);
  LoopbackServer server(script);

  ChildProcess client(QOR_CLIENT_PATH, PortArgs(server.Port()), {.TimeLimit = 30s});
  client.Write("q drip\n");
  ASSERT_TRUE(server.WaitForReceived("DRIP\r\n", 10s));
  const auto started = steady_clock::now();
  const auto cpuAtStart = ProcessCpuTime(client.Pid());
  ASSERT_TRUE(client.WaitForStdout(ReplyEnd, 20s));
  const auto wall = steady_clock::now() - started;
  const auto cpu = ProcessCpuTime(client.Pid()) - cpuAtStart;
  client.CloseStdin();
  const ProcessResult run = client.Wait();

  ExpectEnded(run, 0, 3s);
  EXPECT_EQ(run.Stdout, Session(PortLines, {Quoted(longLine + "\nSECOND\n")}));
  EXPECT_GE(wall, 10ms * reply.size());
  const auto wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(wall);
  // Waiting for each byte must not spin: under half a core (the share itself is a benchmark's figure).
  EXPECT_LT(cpu * 2, wallMs) << "CPU " << cpu.count() << " ms over " << wallMs.count() << " ms";
  std::printf("[ figures  ] %zu bytes dripped in %lld ms, client CPU %lld ms\n", reply.size(),
              static_cast<long long>(wallMs.count()), static_cast<long long>(cpu.count()));
}

TEST(HostileServer, EveryByteValuePassesThroughAndOnlyACarriageReturnBeforeALineFeedIsDropped) {
  std::string everyByte;  // NUL first, 0xFF last, all but LF and CR between
  for (int value = 0; value < 256; ++value) {
    if (value != '\n' && value != '\r') everyByte += static_cast<char>(value);
  }
  // Separate sends, so that a CR and its LF, or a lone CR and its line, arrive apart.
  const std::vector<std::string> pieces = {everyByte + "\r", "\n",   "CR\rONLY\rLINE\r",
                                           "\r\n",           "\r",   "LONE CR FIRST\n",
                                           "\xff\0\xff"s,    "\r\n", "\r\n"};
  ServerScript script;
  script.WaitFor("\r\n");
  for (const std::string& piece : pieces) script.Send(piece).Silence(20ms);
  LoopbackServer server(script);

  const ProcessResult run = RunClient(PortArgs(server.Port()), "q bytes\n");
  ExpectEnded(run, 0, 3s);
  EXPECT_EQ(run.Stdout,
            Session(PortLines, {Quoted(everyByte + "\nCR\rONLY\rLINE\r\n\rLONE CR FIRST\n\xff\0\xff\n"s)}));
}

}  // namespace
}  // namespace qor::test::fault
