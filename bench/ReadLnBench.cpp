// ReadLn over an endless stream of equal lines, as the console's reply loop reads them.
#include <benchmark/benchmark.h>

#include <string>

#include "BenchTransport.hpp"
#include "qorclnt/connection/IdTCPConnection.hpp"

namespace qor::bench {
namespace {

// The argument is the line's length on the wire, CR LF included.
void BM_ReadLn(benchmark::State& AState) {
  const auto length = static_cast<size_t>(AState.range(0));
  const std::string line = std::string(length - 2, 'a') + "\r\n";
  TIdTCPConnection connection(nullptr);
  connection.SetIOHandler(new TBenchTransport(Repeat(line, 65536), &connection));
  for (auto _ : AState) {
    std::string text = connection.ReadLn("\n", IdTimeoutDefault, -1);
    benchmark::DoNotOptimize(text);
  }
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations() * length));
  AState.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(AState.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadLn)->Arg(16)->Arg(100)->Arg(1000)->Arg(16384);

}  // namespace
}  // namespace qor::bench
