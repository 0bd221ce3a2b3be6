// Thousands of connect and disconnect cycles through TIdTCPClient in this process, mixing every way a
// connect or its first reply can fail. Afterwards the process holds exactly the descriptors and
// threads it held before.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "qorclnt/client/IdTCPClient.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "qorclnt/socket/IdSocks.hpp"
#include "support/FreePort.hpp"
#include "support/LoopbackServer.hpp"
#include "support/ProcStat.hpp"
#include "support/Sanitizers.hpp"
#include "support/StalledListener.hpp"
#include "support/Watchdog.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// One kind of failing cycle, with the error it must end in (a timed connect to a refused port may
// also run out of time when the machine is busy).
struct TCycleKind {
  const char* Name;
  const char* Error;
  const char* AlsoAccepted = "";
};
constexpr TCycleKind Kinds[] = {
    {"over-long line", "EIdReadLnMaxLineLengthExceeded"},
    {"refused", "EIdSocketError"},
    {"refused, timed", "EIdConnectException", "EIdConnectTimeout"},
    {"stalled, timed", "EIdConnectTimeout"},
    {"SOCKS 4 error", "EIdSocksRequestFailed"},
    {"SOCKS 5 error", "EIdSocksServerConnectionRefusedError"},
};

constexpr char Target[] = "127.0.0.1";  // the destination the proxies are asked for

TEST(ConnectCycles, ThousandsOfFailingCyclesLeakNoDescriptorAndNoThread) {
  const int cycles = ScaledCount(5000, 5);
  Watchdog watchdog(180s, "ConnectCycles");
  const size_t descriptors = OpenDescriptorCount();
  const size_t threads = ThreadCount();
  const auto started = steady_clock::now();
  const auto cpuAtStart = SelfCpuTime();
  std::map<std::string, int> outcomes;
  {
    // A line far over the 16384-byte limit, without its end.
    LoopbackServer longLine(ServerScript().Send(std::string(40000, 'x')));
    StalledListener stalled;
    const RefusingPort refusing;
    const uint16_t refused = refusing.Port();
    // Proxies that answer every request with an error code: SOCKS 4 "rejected" (91), SOCKS 5
    // "connection refused" (5) with an IPv4 bound address.
    LoopbackServer socks4(ServerScript().WaitForCount(9).Send("\0\x5b\0\0\0\0\0\0"s));
    LoopbackServer socks5(ServerScript()
                              .WaitForCount(3)
                              .Send("\x05\x00"s)
                              .WaitForCount(7 + sizeof Target - 1)
                              .Send("\x05\x05\x00\x01\0\0\0\0\0\0"s));

    TIdTCPClient direct(nullptr);  // makes its handler at each connect and frees it at each disconnect
    direct.SetHost("127.0.0.1");
    TIdTCPClient proxied(nullptr);  // keeps one handler that goes through a proxy
    auto* handler = new TIdIOHandlerSocket(&proxied);
    proxied.SetIOHandler(handler);
    proxied.SetHost(Target);
    proxied.SetPort(9);
    TIdSocksInfo& socks = *handler->SocksInfo();
    socks.SetHost("127.0.0.1");

    for (int i = 0; i < cycles; ++i) {
      const size_t kind = static_cast<size_t>(i) % std::size(Kinds);
      TIdTCPClient& client = kind >= 4 ? proxied : direct;
      try {
        switch (kind) {
          case 0:
            direct.SetPort(longLine.Port());
            direct.Connect(-1);
            direct.ReadLn();
            break;
          case 1:
            direct.SetPort(refused);
            direct.Connect(-1);
            break;
          case 2:
            direct.SetPort(refused);
            direct.Connect(10);
            break;
          case 3:
            direct.SetPort(stalled.Port());
            direct.Connect(10);
            break;
          default:
            socks.SetVersion(kind == 4 ? svSocks4 : svSocks5);
            socks.SetPort(kind == 4 ? socks4.Port() : socks5.Port());
            proxied.Connect(-1);
            break;
        }
        ADD_FAILURE() << "cycle " << i << " (" << Kinds[kind].Name << ") did not fail";
      } catch (const Exception& error) {
        const std::string name = error.ClassName();
        if (name != Kinds[kind].Error && name != Kinds[kind].AlsoAccepted) {
          ADD_FAILURE() << "cycle " << i << " (" << Kinds[kind].Name << "): " << name << ": "
                        << error.Message();
        }
        ++outcomes[std::string(Kinds[kind].Name) + ": " + name];
      }
      client.Disconnect();
      EXPECT_FALSE(client.Connected());
    }
  }
  const auto wall = duration_cast<milliseconds>(steady_clock::now() - started);
  const auto cpu = duration_cast<milliseconds>(SelfCpuTime() - cpuAtStart);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  EXPECT_EQ(ThreadCount(), threads);
  // Waiting dominates; a cycle that spun would show here.
  EXPECT_LT(cpu, wall);
  std::printf("[ figures  ] %d cycles in %lld ms, CPU %lld ms\n", cycles,
              static_cast<long long>(wall.count()), static_cast<long long>(cpu.count()));
  for (const auto& [outcome, count] : outcomes)
    std::printf("[ figures  ]   %s: %d\n", outcome.c_str(), count);
}

}  // namespace
}  // namespace qor::test
