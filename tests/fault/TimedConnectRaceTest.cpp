// Timed connects whose time-out races the connect worker: the listener's accept queue is full, and a
// timer frees it at about the time-out, so that the worker's connect may get through just before,
// at, or after the moment the caller gives up. Whatever wins, the worker is gone when the connect
// returns: a descriptor opened right afterwards (which takes the number the connect used) is never
// connected or closed behind the test's back.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "qorclnt/client/IdTCPClient.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "support/Posix.hpp"
#include "support/ProcStat.hpp"
#include "support/Watchdog.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;
using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A listener on 127.0.0.1 with room for one connection that is not accepted, which Fill takes up.
class TFullListener {
 public:
  TFullListener() {
    FListener.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    if (!FListener.Valid() ||
        ::bind(FListener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(FListener.Get(), 0) != 0 ||
        ::getsockname(FListener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ThrowSystemError("listener");
    }
    FPort = ntohs(address.sin_port);
  }

  uint16_t Port() const noexcept { return FPort; }

  // Empties the queue, then fills it with a connection of its own, so that a connect stays pending.
  void Fill() {
    while (AcceptOne()) {
    }
    FFiller = ConnectLoopback(FPort);
  }

  // Takes (and closes) one waiting connection, if there is one; a pending connect may then get in.
  bool AcceptOne() { return UniqueFd(::accept4(FListener.Get(), nullptr, nullptr, SOCK_CLOEXEC)).Valid(); }

 private:
  UniqueFd FListener;
  UniqueFd FFiller;
  uint16_t FPort = 0;
};

// A descriptor opened right after a connect, and what must stay true of it: open, the same socket,
// never bound or connected.
class TProbe {
 public:
  TProbe() : FFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    struct stat info {};
    ::fstat(FFd.Get(), &info);
    FInode = info.st_ino;
  }

  // An empty text when all is well, else what went wrong.
  std::string Check() const {
    struct stat info {};
    if (::fstat(FFd.Get(), &info) != 0) return "closed";
    if (info.st_ino != FInode) return "replaced by another socket";
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(FFd.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    if (address.sin_port != 0) return "bound or connected";
    return {};
  }

 private:
  UniqueFd FFd;
  ino_t FInode = 0;
};

constexpr int32_t Timeouts[] = {1, 2, 5, 20, 50};  // ms
constexpr int32_t FreeOffsets[] = {-1, 0, 1};      // when the queue is freed, relative to the time-out

TEST(TimedConnectRace, ATimeOutThatRacesTheWorkerLeavesNoWorkerBehind) {
  constexpr int Trials = 1000;
  Watchdog watchdog(180s, "TimedConnectRace");
  const size_t descriptors = OpenDescriptorCount();
  const size_t threads = ThreadCount();
  const auto started = steady_clock::now();
  const auto cpuAtStart = SelfCpuTime();
  int connected = 0, timedOut = 0;
  {
    TFullListener listener;
    TIdTCPClient client(nullptr);
    client.SetHost("127.0.0.1");
    client.SetPort(listener.Port());
    std::optional<TProbe> previous;
    for (int i = 0; i < Trials; ++i) {
      const int32_t timeout = Timeouts[i % std::size(Timeouts)];
      listener.Fill();
      const auto freeAt =
          steady_clock::now() + milliseconds(std::max(0, timeout + FreeOffsets[i % std::size(FreeOffsets)]));
      std::thread timer([&listener, freeAt] {
        std::this_thread::sleep_until(freeAt);
        listener.AcceptOne();
      });
      try {
        client.Connect(timeout);
        ++connected;
      } catch (const EIdConnectTimeout&) {
        ++timedOut;
      } catch (const Exception& error) {
        ADD_FAILURE() << "trial " << i << ": " << error.ClassName() << ": " << error.Message();
      }
      TProbe probe;
      client.Disconnect();
      timer.join();
      // The probe of the trial before has lived through a whole further connect.
      if (previous) {
        EXPECT_EQ(previous->Check(), "") << "trial " << i - 1;
      }
      EXPECT_EQ(probe.Check(), "") << "trial " << i;
      previous.emplace(std::move(probe));
    }
  }
  const auto wall = duration_cast<milliseconds>(steady_clock::now() - started);
  const auto cpu = duration_cast<milliseconds>(SelfCpuTime() - cpuAtStart);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  EXPECT_EQ(ThreadCount(), threads);
  EXPECT_EQ(connected + timedOut, Trials);
  EXPECT_GT(timedOut, 0);
  EXPECT_LT(cpu, wall);
  std::printf("[ figures  ] %d timed connects in %lld ms, CPU %lld ms: %d connected, %d timed out\n", Trials,
              static_cast<long long>(wall.count()), static_cast<long long>(cpu.count()), connected, timedOut);
}

}  // namespace
}  // namespace qor::test
