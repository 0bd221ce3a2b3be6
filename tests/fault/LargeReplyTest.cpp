// Replies far larger than any buffer: one endless line, and a million short lines. The client's
// memory stays flat, it reads no more than the line rules need, and it prints as the lines arrive.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "fault/ClientRun.hpp"
#include "support/ProcStat.hpp"
#include "support/Sanitizers.hpp"

namespace qor::test::fault {
namespace {

using namespace std::chrono_literals;
using namespace transcript;

// A run that sends one line, reads the client's peak memory once the reply is over (while it still
// runs), and ends with the end of input.
struct TMeasuredRun {
  ProcessResult Run;
  int64_t PeakKiB = -1;
};

TMeasuredRun RunMeasured(const LoopbackServer& AServer, const std::string& ALine,
                         std::chrono::seconds ALimit) {
  ChildProcess client(QOR_CLIENT_PATH, PortArgs(AServer.Port()), {.TimeLimit = ALimit});
  client.Write(ALine);
  const bool replied = client.WaitForStdout(ReplyEnd, ALimit);
  TMeasuredRun result;
  result.PeakKiB = PeakResidentKiB(client.Pid());
  client.CloseStdin();
  result.Run = client.Wait();
  EXPECT_TRUE(replied) << "no end of the reply";
  return result;
}

// The peak memory of a client that made one ordinary exchange: the baseline of the bounds below.
int64_t BaselinePeakKiB() {
  static const int64_t peak = [] {
    LoopbackServer server(ServerScript().WaitFor("\r\n").Send("OK\r\n\r\n"));
    const TMeasuredRun run = RunMeasured(server, "q baseline\n", 30s);
    EXPECT_EQ(run.Run.ExitCode, 0);
    return run.PeakKiB;
  }();
  return peak;
}

// The most one line may leave buffered: the line limit and one receive beyond it.
constexpr int64_t BufferedLimitKiB = (16384 + 32768) / 1024;
constexpr int64_t SlackKiB = 1024;

// A stream of ATotal bytes in chunks of AChunk made by AMake(first byte offset, length).
template <class Make>
ServerScript::TChunkSource Chunked(uint64_t ATotal, uint64_t AChunk, Make AMake) {
  return [=](size_t AIndex) -> std::string {
    const uint64_t offset = AIndex * AChunk;
    return offset >= ATotal ? std::string() : AMake(offset, std::min(AChunk, ATotal - offset));
  };
}

TEST(LargeReply, SixtyFourMebibytesWithoutALineEndEndTheReplyAndAreNotReadFurther) {
  const int64_t baseline = BaselinePeakKiB();
  constexpr uint64_t Total = 64ull << 20;
  LoopbackServer server(ServerScript().WaitFor("\r\n").SendStream(
      Chunked(Total, 64 << 10, [](uint64_t, uint64_t ALength) { return std::string(ALength, 'x'); })));
  const TMeasuredRun measured = RunMeasured(server, "q flood\n", 60s);

  ExpectEnded(measured.Run, 0, 5s);
  EXPECT_EQ(measured.Run.Stdout, Session(PortLines, {"< QUOTING COMMAND\n< COMMAND QUOTED\n"}));
  // What the server got rid of sits in socket buffers: far from all of it.
  EXPECT_LT(server.SentCount(), Total / 2);
  EXPECT_LT(measured.PeakKiB, baseline + BufferedLimitKiB + SlackKiB) << "baseline " << baseline << " KiB";
  std::printf("[ figures  ] peak %lld KiB, baseline %lld KiB, server handed over %llu bytes\n",
              static_cast<long long>(measured.PeakKiB), static_cast<long long>(baseline),
              static_cast<unsigned long long>(server.SentCount()));
}

// "L0000001\r\n" and so on: line ANumber as the server sends it.
std::string NumberedLine(uint64_t ANumber, const char* AEnd) {
  char line[32];
  std::snprintf(line, sizeof line, "L%07llu%s", static_cast<unsigned long long>(ANumber), AEnd);
  return line;
}

TEST(LargeReply, AMillionLinesArePrintedAsTheyArriveWithFlatMemory) {
  const int64_t baseline = BaselinePeakKiB();
  const uint64_t lines = ScaledCount(1000000, 5);
  constexpr uint64_t PerChunk = 4096;
  auto make = [](uint64_t AFirst, uint64_t ACount) {
    std::string chunk;
    for (uint64_t n = AFirst; n < AFirst + ACount; ++n) chunk += NumberedLine(n, "\r\n");
    return chunk;
  };
  LoopbackServer server(
      ServerScript().WaitFor("\r\n").SendStream(Chunked(lines, PerChunk, make)).Send("\r\n"));
  const auto started = std::chrono::steady_clock::now();
  const TMeasuredRun measured = RunMeasured(server, "q lines\n", 120s);
  const auto wall = std::chrono::steady_clock::now() - started;

  ExpectEnded(measured.Run, 0, 60s);
  std::string printed;
  printed.reserve(lines * 9);
  for (uint64_t n = 0; n < lines; ++n) printed += NumberedLine(n, "\n");
  const std::string expected = Session(PortLines, {"< QUOTING COMMAND\n" + printed + "< COMMAND QUOTED\n"});
  const std::string& out = measured.Run.Stdout;
  const auto differ = std::mismatch(out.begin(), out.end(), expected.begin(), expected.end());
  EXPECT_TRUE(out == expected) << "output differs from byte " << (differ.first - out.begin()) << " of "
                               << out.size() << " (expected " << expected.size() << ")";
  EXPECT_LT(measured.PeakKiB, baseline + BufferedLimitKiB + SlackKiB) << "baseline " << baseline << " KiB";
  std::printf("[ figures  ] %llu lines in %lld ms, client CPU %lld ms, peak %lld KiB, baseline %lld KiB\n",
              static_cast<unsigned long long>(lines),
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(wall).count()),
              static_cast<long long>(measured.Run.CpuTime.count() / 1000),
              static_cast<long long>(measured.PeakKiB), static_cast<long long>(baseline));
}

}  // namespace
}  // namespace qor::test::fault
