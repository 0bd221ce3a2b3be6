// Finding a line end in 1 MiB: the search routine itself, and the connection's search over its input
// buffer. Both should run at the speed of the C library's memory search.
#include <benchmark/benchmark.h>

#include <string>

#include "BenchTransport.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/connection/IdTCPConnection.hpp"

namespace qor::bench {
namespace {

constexpr int32_t OneMiB = 1 << 20;

// 1 MiB of text that ends in ATerminator.
std::string Text(const std::string& ATerminator) {
  return std::string(OneMiB - ATerminator.size(), 'a') + ATerminator;
}

void BM_FindInMemory(benchmark::State& AState, const std::string& ATerminator) {
  const std::string text = Text(ATerminator);
  for (auto _ : AState) {
    benchmark::DoNotOptimize(FindInMemory(ATerminator, text.data(), OneMiB));
  }
  AState.SetBytesProcessed(AState.iterations() * OneMiB);
}
BENCHMARK_CAPTURE(BM_FindInMemory, LF, std::string("\n"));
BENCHMARK_CAPTURE(BM_FindInMemory, CRLF, std::string("\r\n"));

// ReadLn with a 0 ms time-out over 1 MiB buffered without a line end, on a transport with nothing
// more to receive: one search of the whole buffer, then an empty result.
void BM_ConnectionSearch(benchmark::State& AState) {
  TIdTCPConnection connection(nullptr);
  connection.SetIOHandler(new TBenchTransport("", &connection));
  const std::string text(OneMiB, 'a');
  connection.InBuffer().Write(text.data(), OneMiB);
  for (auto _ : AState) {
    benchmark::DoNotOptimize(connection.ReadLn("\n", 0, 0));
    // Consuming nothing still counts as consuming: the next search starts from the first byte again.
    connection.InBuffer().Discard(0);
  }
  if (!connection.LineReadEmpty()) AState.SkipWithError("the line search did not run out");
  AState.SetBytesProcessed(AState.iterations() * OneMiB);
}
BENCHMARK(BM_ConnectionSearch);

}  // namespace
}  // namespace qor::bench
