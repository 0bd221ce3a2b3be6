// The console's reply loop over a fake transport: before each line the connection check, then the
// line read, the blank-line test and the LF put on for the write, until the blank line that ends the
// reply. The write itself is left out: it is the same system call for every client. The argument
// picks how the line is read: 0 a fresh string from the value-returning ReadLn, 1 one kept string.
#include <benchmark/benchmark.h>

#include <string>

#include "BenchTransport.hpp"
#include "qorclnt/connection/IdTCPConnection.hpp"
#include "qorclnt/runtime/Strings.hpp"

namespace qor::bench {
namespace {

constexpr int LinesPerReply = 1000;

void BM_ReplyLoop(benchmark::State& AState) {
  const bool kept = AState.range(0) == 1;
  std::string reply;
  for (int i = 0; i < LinesPerReply; ++i) reply += std::string(98, 'a') + "\r\n";
  reply += "\r\n";
  TIdTCPConnection connection(nullptr);
  connection.SetIOHandler(new TBenchTransport(reply, &connection));
  const std::string lineEnd("\n");
  int64_t lines = 0;
  for (auto _ : AState) {
    std::string line;
    for (;;) {
      if (!connection.Connected()) AState.SkipWithError("not connected");
      if (kept) {
        connection.ReadLn(line, lineEnd, -1, -1);
      } else {
        line = connection.ReadLn(lineEnd, -1, -1);
      }
      if (IsBlank(line)) break;
      line.push_back('\n');
      benchmark::DoNotOptimize(line.data());
      ++lines;
    }
  }
  AState.SetBytesProcessed(lines * 100);
  AState.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReplyLoop)->ArgName("kept")->Arg(0)->Arg(1);

}  // namespace
}  // namespace qor::bench
