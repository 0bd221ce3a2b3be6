// The CPU share of a connection while it waits on a real loopback socket: for a line that arrives a
// byte every few milliseconds, and for a read that runs into its time-out. A wait that spun would
// show a share near 1 (a whole core); the fault tests only check that it stays under one half.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <ctime>
#include <stdexcept>
#include <string>
#include <thread>

#include "qorclnt/client/IdTCPClient.hpp"
#include "support/UniqueFd.hpp"

namespace qor::bench {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;
using test::UniqueFd;

// A listener on 127.0.0.1 that accepts one client, sends it AText a byte every AGap, then waits until
// the client goes.
class TDripPeer {
 public:
  TDripPeer(std::string AText, std::chrono::milliseconds AGap)
      : FListener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if (::bind(FListener.Get(), raw, length) != 0 || ::listen(FListener.Get(), 1) != 0 ||
        ::getsockname(FListener.Get(), raw, &length) != 0) {
      throw std::runtime_error("no loopback listener");
    }
    FPort = ntohs(address.sin_port);
    FThread = std::thread([this, text = std::move(AText), AGap] {
      const UniqueFd peer(::accept(FListener.Get(), nullptr, nullptr));
      for (const char byte : text) {
        if (::send(peer.Get(), &byte, 1, MSG_NOSIGNAL) != 1) return;
        std::this_thread::sleep_for(AGap);
      }
      char sink = 0;
      while (::recv(peer.Get(), &sink, 1, 0) > 0) {
      }
    });
  }
  ~TDripPeer() {
    ::shutdown(FListener.Get(), SHUT_RDWR);  // ends an accept still waiting
    FThread.join();
  }
  TDripPeer(const TDripPeer&) = delete;
  TDripPeer& operator=(const TDripPeer&) = delete;

  int Port() const noexcept { return FPort; }

 private:
  UniqueFd FListener;
  int FPort = 0;
  std::thread FThread;
};

double ThreadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Runs AWait once per iteration on a fresh connection to a peer that drips AText, and reports the
// share of the wall time that the waiting thread spent on a CPU.
template <class TWait>
void MeasureWait(benchmark::State& AState, const std::string& AText, TWait AWait) {
  double cpu = 0;
  double wall = 0;
  for (auto _ : AState) {
    TDripPeer peer(AText, 5ms);
    TIdTCPClient client(nullptr);
    client.SetHost("127.0.0.1");
    client.SetPort(peer.Port());
    client.Connect(IdTimeoutDefault);
    const double cpuBefore = ThreadCpuSeconds();
    const auto before = steady_clock::now();
    AWait(client);
    cpu += ThreadCpuSeconds() - cpuBefore;
    wall += std::chrono::duration<double>(steady_clock::now() - before).count();
  }
  AState.counters["cpu_share"] = cpu / wall;
}

void BM_WaitForADrippedLine(benchmark::State& AState) {
  MeasureWait(AState, std::string(100, 'd') + "\r\n",
              [](TIdTCPClient& AClient) { benchmark::DoNotOptimize(AClient.ReadLn()); });
}
BENCHMARK(BM_WaitForADrippedLine)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_WaitIntoAReadTimeout(benchmark::State& AState) {
  MeasureWait(AState, "", [](TIdTCPClient& AClient) { benchmark::DoNotOptimize(AClient.ReadLn("\n", 500)); });
}
BENCHMARK(BM_WaitIntoAReadTimeout)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qor::bench
