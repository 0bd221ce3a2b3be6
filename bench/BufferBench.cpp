// Consuming the input buffer from the front, with receives of 32 KiB appended at its end whenever it
// runs short, so the read offset grows and the buffer compacts as it does under ReadLn.
#include <benchmark/benchmark.h>

#include <string>

#include "qorclnt/connection/IdBuffers.hpp"

namespace qor::bench {
namespace {

constexpr int32_t ReceiveSize = 32768;

template <class Consume>
void Consuming(benchmark::State& AState, Consume AConsume) {
  const auto count = static_cast<int32_t>(AState.range(0));
  const std::string receive(ReceiveSize, 'a');
  TIdManagedBuffer buffer;
  for (auto _ : AState) {
    if (buffer.Size() < count) {
      buffer.Seek(0, soEnd);
      buffer.Write(receive.data(), ReceiveSize);
    }
    AConsume(buffer, count);
  }
  AState.SetBytesProcessed(AState.iterations() * count);
}

void BM_TakeString(benchmark::State& AState) {
  Consuming(AState, [](TIdManagedBuffer& ABuffer, int32_t ACount) {
    benchmark::DoNotOptimize(ABuffer.TakeString(ACount));
  });
}
BENCHMARK(BM_TakeString)->Arg(16)->Arg(100)->Arg(1000)->Arg(16384);

void BM_Discard(benchmark::State& AState) {
  Consuming(AState, [](TIdManagedBuffer& ABuffer, int32_t ACount) { ABuffer.Discard(ACount); });
}
BENCHMARK(BM_Discard)->Arg(16)->Arg(100)->Arg(1000)->Arg(16384);

}  // namespace
}  // namespace qor::bench
