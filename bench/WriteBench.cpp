// WriteLn to a transport that takes every byte at once: the connection's cost of sending a line.
#include <benchmark/benchmark.h>

#include <string>

#include "BenchTransport.hpp"
#include "qorclnt/connection/IdTCPConnection.hpp"

namespace qor::bench {
namespace {

// The argument is the line's length on the wire, CR LF included.
void BM_WriteLn(benchmark::State& AState) {
  const auto length = static_cast<size_t>(AState.range(0));
  const std::string text(length - 2, 'a');
  TIdTCPConnection connection(nullptr);
  connection.SetIOHandler(new TBenchTransport("", &connection));
  for (auto _ : AState) connection.WriteLn(text);
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations() * length));
  AState.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(AState.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteLn)->Arg(16)->Arg(100)->Arg(1000)->Arg(16384);

}  // namespace
}  // namespace qor::bench
