// Waits that a signal interrupts every 10 ms (a handler that does nothing, installed without
// SA_RESTART unless a test asks for it) resume with the time that is left, so they still last their
// full time: a line read, a pause, and a timed connect whose worker thread is interrupted as well;
// and a line that arrives during such a wait is still read. A send that waits for room, and a SOCKS
// dialogue that waits for its proxy, resume the same way.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "qorclnt/client/IdTCPClient.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "qorclnt/socket/IdSocks.hpp"
#include "support/FreePort.hpp"
#include "support/LoopbackServer.hpp"
#include "support/ProcStat.hpp"
#include "support/StalledListener.hpp"
#include "support/UniqueFd.hpp"
#include "support/Watchdog.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using std::chrono::steady_clock;
using namespace std::string_literals;

thread_local volatile sig_atomic_t SignalsHere = 0;  // signals the current thread has handled

void CountSignal(int) {
  SignalsHere = SignalsHere + 1;
}

// Makes SIGALRM run CountSignal, with AFlags (without SA_RESTART a blocking call it interrupts fails
// with EINTR; with it, most calls are restarted); while it lives, a thread of its own sends SIGALRM
// to every other thread of the process every AInterval: an interval timer that also reaches threads
// the test cannot name, such as a connect worker. The handler stays installed afterwards: a signal
// sent last may reach its thread only after the rain has stopped.
class TSignalRain {
 public:
  explicit TSignalRain(milliseconds AInterval, int AFlags = 0) {
    struct sigaction action {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = AFlags;
    sigaction(SIGALRM, &action, nullptr);
    FThread = std::thread([this, AInterval] {
      const pid_t self = static_cast<pid_t>(::syscall(SYS_gettid));
      for (auto next = steady_clock::now(); !FStop.load(); next += AInterval) {
        std::this_thread::sleep_until(next);
        SignalOthers(self);
      }
    });
  }

  ~TSignalRain() {
    FStop.store(true);
    FThread.join();
  }

  TSignalRain(const TSignalRain&) = delete;
  TSignalRain& operator=(const TSignalRain&) = delete;

 private:
  static void SignalOthers(pid_t ASelf) {
    DIR* const tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) return;
    while (const dirent* entry = ::readdir(tasks)) {
      const pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
      if (tid > 0 && tid != ASelf) ::syscall(SYS_tgkill, ::getpid(), tid, SIGALRM);
    }
    ::closedir(tasks);
  }

  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// Runs AWait and checks that it took its full second although the signals kept interrupting it.
template <class Wait>
void ExpectFullSecond(const char* AWhat, Wait AWait) {
  SCOPED_TRACE(AWhat);
  const sig_atomic_t signalsBefore = SignalsHere;
  const auto started = steady_clock::now();
  AWait();
  const auto took = steady_clock::now() - started;
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 5s);
  EXPECT_GE(SignalsHere - signalsBefore, 20) << "the wait was hardly interrupted";
}

TEST(InterruptedWait, WaitsInterruptedEvery10MsStillLastTheirFullTime) {
  Watchdog watchdog(60s, "InterruptedWait");
  LoopbackServer silent;  // accepts, and says nothing
  StalledListener stalled;
  TIdTCPClient reader(nullptr);
  reader.SetHost(LoopbackServer::Host);
  reader.SetPort(silent.Port());
  reader.SetReadTimeout(1000);
  reader.Connect(-1);
  TIdTCPClient connector(nullptr);
  connector.SetHost(StalledListener::Host);
  connector.SetPort(stalled.Port());

  const auto cpuAtStart = ThreadCpuTime();
  const auto started = steady_clock::now();
  {
    TSignalRain rain(10ms);
    ExpectFullSecond("ReadLn", [&] { EXPECT_THROW(reader.ReadLn(), EIdReadTimeout); });
    ExpectFullSecond("PauseMs", [] { PauseMs(1000); });
    // The worker's connect is interrupted too; it must not end the connect before the time-out.
    ExpectFullSecond("timed connect", [&] { EXPECT_THROW(connector.Connect(1000), EIdConnectTimeout); });
  }
  // Resuming after each signal must not turn the waits into a spin: under half a core.
  EXPECT_LT((ThreadCpuTime() - cpuAtStart) * 2, steady_clock::now() - started);
  EXPECT_EQ(silent.Received(), "");
}

TEST(InterruptedWait, ALineThatArrivesDuringAnInterruptedReadIsReadWithOrWithoutRestart) {
  Watchdog watchdog(60s, "InterruptedWait");
  // Each connection answers its line after 500 ms of silence.
  LoopbackServer server(ServerScript().WaitFor("\r\n").Silence(500ms).Send("LATE\r\n"));
  for (const int flags : {0, SA_RESTART}) {
    SCOPED_TRACE(flags == 0 ? "without SA_RESTART" : "with SA_RESTART");
    TSignalRain rain(10ms, flags);
    for (const int32_t timeout : {2000, 0}) {  // a limit, and none
      TIdTCPClient reader(nullptr);
      reader.SetHost(LoopbackServer::Host);
      reader.SetPort(server.Port());
      reader.SetReadTimeout(timeout);
      reader.Connect(-1);
      reader.WriteLn("ASK");
      // Signals are not counted here: a receive that the system restarts may hide them (under
      // ThreadSanitizer a handler runs only once the call returns). The time-out below counts them.
      const auto started = steady_clock::now();
      EXPECT_EQ(reader.ReadLn(), "LATE");
      EXPECT_GE(steady_clock::now() - started, 450ms);
      EXPECT_LT(steady_clock::now() - started, 5s);
    }
    TIdTCPClient silent(nullptr);
    silent.SetHost(LoopbackServer::Host);
    silent.SetPort(server.Port());
    silent.SetReadTimeout(1000);
    silent.Connect(-1);
    ExpectFullSecond("time-out", [&] { EXPECT_THROW(silent.ReadLn(), EIdReadTimeout); });
  }
}

// A peer on 127.0.0.1 that accepts only after ADelay and then reads until the client closes: until
// then a large write fills the socket buffers and waits for room.
class TLateReader {
 public:
  explicit TLateReader(milliseconds ADelay) {
    FThread = std::thread([this, ADelay] {
      std::this_thread::sleep_for(ADelay);
      // The signals reach this thread too: its own calls resume after them.
      int accepted;
      while ((accepted = ::accept(FListener.Descriptor(), nullptr, nullptr)) == -1 && errno == EINTR) {
      }
      const UniqueFd peer(accepted);
      char buffer[65536];
      for (;;) {
        const ssize_t n = ::recv(peer.Get(), buffer, sizeof buffer, 0);
        if (n > 0) {
          FReceived += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
          break;
        }
      }
    });
  }
  ~TLateReader() { Join(); }
  TLateReader(const TLateReader&) = delete;
  TLateReader& operator=(const TLateReader&) = delete;

  int32_t Port() const noexcept { return FListener.Port(); }
  // Waits for the reader's end (the client's close); the bytes it read.
  size_t Join() {
    if (FThread.joinable()) FThread.join();
    return FReceived;
  }

 private:
  ListeningPort FListener;
  size_t FReceived = 0;
  std::thread FThread;
};

TEST(InterruptedWait, ASendThatWaitsForRoomResumesAfterSignals) {
  Watchdog watchdog(60s, "InterruptedWait");
  TLateReader reader(700ms);
  TIdTCPClient writer(nullptr);
  writer.SetHost(LoopbackServer::Host);
  writer.SetPort(reader.Port());
  writer.Connect(-1);
  const std::string block(16 << 20, 'x');  // far more than the socket buffers hold
  {
    TSignalRain rain(10ms);
    const auto started = steady_clock::now();
    EXPECT_NO_THROW(writer.Write(block));
    EXPECT_GE(steady_clock::now() - started, 500ms) << "the write never waited for room";
  }
  writer.Disconnect();
  EXPECT_EQ(reader.Join(), block.size());
}

TEST(InterruptedWait, ASocksDialogueResumesAfterSignals) {
  Watchdog watchdog(60s, "InterruptedWait");
  // A SOCKS 5 proxy that takes its time over each answer.
  const std::string request = "\x05\x01\x00\x03\x09"s + "127.0.0.1" + "\x12\x34"s;
  LoopbackServer proxy(ServerScript()
                           .WaitForCount(3)
                           .Silence(300ms)
                           .Send("\x05\x00"s)
                           .WaitForCount(request.size())
                           .Silence(300ms)
                           .Send("\x05\x00\x00\x01\x7f\x00\x00\x01\x12\x34"s));
  TIdIOHandlerSocket handler(nullptr);
  handler.SocksInfo()->SetVersion(svSocks5);
  handler.SocksInfo()->SetHost(LoopbackServer::Host);
  handler.SocksInfo()->SetPort(proxy.Port());
  handler.Open();
  TSignalRain rain(10ms);
  for (const int32_t timeout : {-1, 5000}) {  // no time-out, and one
    SCOPED_TRACE(timeout);
    EXPECT_NO_THROW(handler.ConnectTo("127.0.0.1", 0x1234, "", 0, 0, 0, timeout));
    handler.Close();
    handler.Open();
  }
}

}  // namespace
}  // namespace qor::test
