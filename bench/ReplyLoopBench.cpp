// The console's reply loop over a fake transport, until the blank line that ends the reply. The write
// itself is left out: it is the same system call for every client. The argument picks how the lines
// are read: 0 a fresh string from the value-returning ReadLn, 1 one kept string (each with the
// connection check before every line, the blank-line test and the LF put on), 2 the console's way,
// ReadLnWith, which hands each buffered line with its LF as a view into the input buffer.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "BenchTransport.hpp"
#include "qorclnt/connection/IdTCPConnection.hpp"
#include "qorclnt/runtime/Strings.hpp"

namespace qor::bench {
namespace {

constexpr int LinesPerReply = 1000;

void BM_ReplyLoop(benchmark::State& AState) {
  const int64_t mode = AState.range(0);
  std::string reply;
  for (int i = 0; i < LinesPerReply; ++i) reply += std::string(98, 'a') + "\r\n";
  reply += "\r\n";
  TIdTCPConnection connection(nullptr);
  connection.SetIOHandler(new TBenchTransport(reply, &connection));
  const std::string lineEnd("\n");
  int64_t lines = 0;
  for (auto _ : AState) {
    std::string line;
    bool blank = false;
    const auto take = [&blank, &lines](std::string_view ALine) {
      blank = IsBlank(ALine);
      benchmark::DoNotOptimize(ALine.data());
      lines += blank ? 0 : 1;
      return !blank;
    };
    while (!blank) {
      if (!connection.Connected()) AState.SkipWithError("not connected");
      if (mode == 2) {
        connection.ReadLnWith(take, -1, -1);
        continue;
      }
      if (mode == 1) {
        connection.ReadLn(line, lineEnd, -1, -1);
      } else {
        line = connection.ReadLn(lineEnd, -1, -1);
      }
      line.push_back('\n');
      take(line);
    }
  }
  AState.SetBytesProcessed(lines * 100);
  AState.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReplyLoop)->ArgName("mode")->Arg(0)->Arg(1)->Arg(2);

}  // namespace
}  // namespace qor::bench
