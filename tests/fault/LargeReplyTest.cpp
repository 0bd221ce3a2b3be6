// Replies far larger than any buffer: one endless line, and a million short lines. The client's
// memory stays flat, it reads no more than the line rules need, and it prints as the lines arrive.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fault/ClientRun.hpp"
#include "support/ProcStat.hpp"
#include "support/Sanitizers.hpp"

namespace qor::test::fault {
namespace {

using namespace std::chrono_literals;
using namespace transcript;

// A run that sends each of ALines in turn and reads the client's peak memory after each reply (while
// it still runs), then ends with the end of input.
struct TMeasuredRun {
  ProcessResult Run;
  std::vector<int64_t> PeakKiB;
};

TMeasuredRun RunMeasured(const LoopbackServer& AServer, const std::vector<std::string>& ALines,
                         std::chrono::seconds ALimit) {
  // Without AddressSanitizer's quarantine, which keeps every freed block resident for a while.
  const char* const sanitizerOptions = std::getenv("ASAN_OPTIONS");
  const std::string options = sanitizerOptions != nullptr ? std::string(sanitizerOptions) + ":" : "";
  ChildProcess client(
      QOR_CLIENT_PATH, PortArgs(AServer.Port()),
      {.TimeLimit = ALimit, .Environment = {"ASAN_OPTIONS=" + options + "quarantine_size_mb=0"}});
  TMeasuredRun result;
  for (const std::string& line : ALines) {
    client.Write(line);
    EXPECT_TRUE(client.WaitForStdout(ReplyEnd, ALimit)) << "no end of the reply to " << line;
    result.PeakKiB.push_back(PeakResidentKiB(client.Pid()));
  }
  client.CloseStdin();
  result.Run = client.Wait();
  return result;
}

// The peak memory of a client that made one ordinary exchange: the baseline of the bounds below.
int64_t BaselinePeakKiB() {
  static const int64_t peak = [] {
    LoopbackServer server(ServerScript().WaitFor("\r\n").Send("OK\r\n\r\n"));
    const TMeasuredRun run = RunMeasured(server, {"q baseline\n"}, 30s);
    EXPECT_EQ(run.Run.ExitCode, 0);
    return run.PeakKiB.front();
  }();
  return peak;
}

// The most one line may leave buffered (the line limit and one receive beyond it), and what the
// allocator may add on top. A sanitizer's allocator keeps separate pages for each block size, so the
// input buffer, whose block changes size as lines are taken out, touches new pages until every size
// it uses has its own: up to about a mebibyte, reached early and then flat. ThreadSanitizer also keeps
// per-thread histories that grow with the calls made, more on a busy machine; flatness itself is what
// the growth bound checks.
constexpr int64_t BufferedLimitKiB = (16384 + 32768) / 1024;
constexpr int64_t SlackKiB = SanitizedBuild ? 4096 : 1024;
constexpr int64_t GrowthKiB = SanitizedBuild ? 2048 : 256;

// A stream of ATotal bytes or lines from AFirst on, in chunks of AChunk made by AMake(first, count).
template <class Make>
ServerScript::TChunkSource Chunked(uint64_t AFirst, uint64_t ATotal, uint64_t AChunk, Make AMake) {
  return [=](size_t AIndex) -> std::string {
    const uint64_t offset = AIndex * AChunk;
    return offset >= ATotal ? std::string() : AMake(AFirst + offset, std::min(AChunk, ATotal - offset));
  };
}

TEST(LargeReply, SixtyFourMebibytesWithoutALineEndEndTheReplyAndAreNotReadFurther) {
  const int64_t baseline = BaselinePeakKiB();
  constexpr uint64_t Total = 64ull << 20;
  LoopbackServer server(ServerScript().WaitFor("\r\n").SendStream(
      Chunked(0, Total, 64 << 10, [](uint64_t, uint64_t ALength) { return std::string(ALength, 'x'); })));
  const TMeasuredRun measured = RunMeasured(server, {"q flood\n"}, 60s);

  ExpectEnded(measured.Run, 0, 5s);
  EXPECT_EQ(measured.Run.Stdout, Session(PortLines, {"< QUOTING COMMAND\n< COMMAND QUOTED\n"}));
  // What the server got rid of sits in socket buffers: far from all of it.
  EXPECT_LT(server.SentCount(), Total / 2);
  const int64_t peak = measured.PeakKiB.front();
  EXPECT_LT(peak, baseline + BufferedLimitKiB + 1024) << "baseline " << baseline << " KiB";
  std::printf("[ figures  ] peak %lld KiB, baseline %lld KiB, server handed over %llu bytes\n",
              static_cast<long long>(peak), static_cast<long long>(baseline),
              static_cast<unsigned long long>(server.SentCount()));
}

// "L0000001\r\n" and so on: line ANumber as the server sends it.
std::string NumberedLine(uint64_t ANumber, const char* AEnd) {
  char line[32];
  std::snprintf(line, sizeof line, "L%07llu%s", static_cast<unsigned long long>(ANumber), AEnd);
  return line;
}

std::string NumberedLines(uint64_t AFirst, uint64_t ACount, const char* AEnd) {
  std::string lines;
  lines.reserve(ACount * 10);
  for (uint64_t n = AFirst; n < AFirst + ACount; ++n) lines += NumberedLine(n, AEnd);
  return lines;
}

TEST(LargeReply, AMillionLinesArePrintedAsTheyArriveWithFlatMemory) {
  const int64_t baseline = BaselinePeakKiB();
  // A first reply of a tenth of the lines, then one of the rest; memory must not grow from the one
  // to the other.
  const uint64_t lines = ScaledCount(1000000, 5);
  const uint64_t first = lines / 10;
  const auto make = [](uint64_t AFirst, uint64_t ACount) { return NumberedLines(AFirst, ACount, "\r\n"); };
  LoopbackServer server(ServerScript()
                            .WaitFor("\r\n")
                            .SendStream(Chunked(0, first, 4096, make))
                            .Send("\r\n")
                            .WaitFor("\r\n")
                            .SendStream(Chunked(first, lines - first, 4096, make))
                            .Send("\r\n"));
  const auto started = std::chrono::steady_clock::now();
  const TMeasuredRun measured = RunMeasured(server, {"q first\n", "q rest\n"}, 120s);
  const auto wall = std::chrono::steady_clock::now() - started;

  ExpectEnded(measured.Run, 0, 60s);
  const std::string expected = Session(
      PortLines, {"< QUOTING COMMAND\n" + NumberedLines(0, first, "\n") + "< COMMAND QUOTED\n",
                  "< QUOTING COMMAND\n" + NumberedLines(first, lines - first, "\n") + "< COMMAND QUOTED\n"});
  const std::string& out = measured.Run.Stdout;
  const auto differ = std::mismatch(out.begin(), out.end(), expected.begin(), expected.end());
  EXPECT_TRUE(out == expected) << "output differs from byte " << (differ.first - out.begin()) << " of "
                               << out.size() << " (expected " << expected.size() << ")";
  ASSERT_EQ(measured.PeakKiB.size(), 2u);
  EXPECT_LT(measured.PeakKiB[1] - measured.PeakKiB[0], GrowthKiB);
  EXPECT_LT(measured.PeakKiB[1], baseline + BufferedLimitKiB + SlackKiB) << "baseline " << baseline << " KiB";
  std::printf(
      "[ figures  ] %llu lines in %lld ms, client CPU %lld ms, peak %lld KiB after %llu lines, %lld KiB "
      "after all, baseline %lld KiB\n",
      static_cast<unsigned long long>(lines),
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(wall).count()),
      static_cast<long long>(measured.Run.CpuTime.count() / 1000),
      static_cast<long long>(measured.PeakKiB[0]), static_cast<unsigned long long>(first),
      static_cast<long long>(measured.PeakKiB[1]), static_cast<long long>(baseline));
}

}  // namespace
}  // namespace qor::test::fault
