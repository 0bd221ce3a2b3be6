// Another thread stops a connection's blocked connect, read, write or wait with Abort; and a timed
// connect that is told to wake when its worker ends returns at once instead of at the end of a step.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "qorclnt/client/IdTCPClient.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "support/CountingAntiFreeze.hpp"
#include "support/FreePort.hpp"
#include "support/LoopbackServer.hpp"
#include "support/StalledListener.hpp"
#include "support/Watchdog.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

double MsSince(steady_clock::time_point AStart) {
  return std::chrono::duration<double, std::milli>(steady_clock::now() - AStart).count();
}

// Runs ABlocked on this thread while another thread aborts AClient after 300 ms: the message of the
// EIdAborted it raised ("" when it raised none); the ms it took go to VTook.
std::string AbortAfter300Ms(TIdTCPClient& AClient, const std::function<void()>& ABlocked, double& VTook) {
  const auto start = steady_clock::now();
  std::thread aborter([&AClient] {
    std::this_thread::sleep_for(300ms);
    AClient.Abort();
  });
  std::string message;
  try {
    ABlocked();
  } catch (const EIdAborted& error) {
    message = error.Message();
  }
  VTook = MsSince(start);
  aborter.join();
  return message;
}

class Abort : public ::testing::Test {
 protected:
  void Use(int32_t APort) {
    FClient.SetHost(LoopbackServer::Host);
    FClient.SetPort(APort);
  }
  // Expects ABlocked to end with "Aborted." soon after the Abort.
  void ExpectAborted(const char* AWhat, const std::function<void()>& ABlocked) {
    SCOPED_TRACE(AWhat);
    double took = 0;
    EXPECT_EQ(AbortAfter300Ms(FClient, ABlocked, took), "Aborted.");
    EXPECT_GE(took, 250);
    EXPECT_LT(took, 5000);
  }

  Watchdog FWatchdog{60s, "Abort"};
  TIdTCPClient FClient{nullptr};
};

TEST_F(Abort, EndsABlockedReadOrWaitAndTheNextConnectStartsAfresh) {
  // The first connection stays silent; the second answers.
  LoopbackServer server({ServerScript(), ServerScript().WaitFor("HI\r\n").Send("THERE\r\n")});
  Use(server.Port());
  FClient.SetReadTimeout(0);  // no limit: only the Abort can end the read
  FClient.Connect(-1);
  ExpectAborted("read", [&] { FClient.ReadLn(); });
  // Every later call on the same socket ends at once, until the connection's own thread closes it.
  const auto start = steady_clock::now();
  EXPECT_THROW(FClient.ReadLn(), EIdAborted);
  EXPECT_THROW(FClient.WriteLn("LOST"), EIdAborted);
  EXPECT_LT(MsSince(start), 250);
  FClient.Disconnect();

  FClient.Connect(-1);
  EXPECT_TRUE(server.WaitForConnections(2, 5s));
  FClient.WriteLn("HI");
  EXPECT_EQ(FClient.ReadLn(), "THERE");
  FClient.Disconnect();
}

TEST_F(Abort, EndsAWaitWithIdleProcessing) {
  LoopbackServer server;  // silent
  CountingAntiFreeze antiFreeze(nullptr);
  Use(server.Port());
  FClient.SetReadTimeout(0);
  FClient.Connect(-1);
  ExpectAborted("wait", [&] { FClient.ReadLn(); });
  EXPECT_GE(antiFreeze.Turns, 1);
  FClient.Disconnect();
}

TEST_F(Abort, EndsAWriteThatWaitsForRoom) {
  const ListeningPort deaf;  // its connections are never read
  Use(deaf.Port());
  FClient.Connect(-1);
  const std::string block(16 << 20, 'x');  // far more than the socket buffers hold
  ExpectAborted("write", [&] { FClient.Write(block); });
  FClient.Disconnect();
}

TEST_F(Abort, EndsAConnectWithOrWithoutATimeOut) {
  const StalledListener stalled;  // a connect there neither succeeds nor fails
  Use(stalled.Port());
  ExpectAborted("timed connect", [&] { FClient.Connect(10000); });
  EXPECT_FALSE(FClient.Connected());
  ExpectAborted("connect without a time-out", [&] { FClient.Connect(-1); });
  FClient.Disconnect();
}

TEST_F(Abort, WithoutAHandlerDoesNothing) {
  FClient.Abort();
  LoopbackServer server(ServerScript().WaitFor("HI\r\n").Send("THERE\r\n"));
  Use(server.Port());
  FClient.Connect(-1);
  FClient.WriteLn("HI");
  EXPECT_EQ(FClient.ReadLn(), "THERE");
}

// A timed Connect(2000) to a listening loopback port through a handler with the given wake-up: the
// ms it took.
double TimedConnect(bool AWake, int32_t APort) {
  TIdTCPClient client(nullptr);
  auto* handler = new TIdIOHandlerSocket(&client);  // freed by its owner
  handler->SetWakeOnConnectEnd(AWake);
  client.SetIOHandler(handler);
  client.SetHost(LoopbackServer::Host);
  client.SetPort(APort);
  const auto start = steady_clock::now();
  client.Connect(2000);
  const double took = MsSince(start);
  EXPECT_TRUE(client.Connected());
  client.Disconnect();
  return took;
}

TEST(WakeOnConnectEnd, ATimedConnectReturnsWhenItsWorkerEndsInsteadOfAfterAStep) {
  Watchdog watchdog(60s, "WakeOnConnectEnd");
  LoopbackServer server;
  const double stepped = TimedConnect(false, server.Port());
  const double woken = TimedConnect(true, server.Port());
  std::printf("Connect(2000) to a listening loopback port: %.2f ms stepped, %.2f ms woken\n", stepped, woken);
  EXPECT_GE(stepped, 115);  // the default keeps the step
  EXPECT_LT(woken, 60);
}

TEST(WakeOnConnectEnd, StillRunsIdleProcessingEveryStepAndKeepsTheTimeOut) {
  Watchdog watchdog(60s, "WakeOnConnectEnd");
  const StalledListener stalled;
  CountingAntiFreeze antiFreeze(nullptr);
  antiFreeze.IdleTimeOut = 125;
  TIdTCPClient client(nullptr);
  auto* handler = new TIdIOHandlerSocket(&client);
  handler->SetWakeOnConnectEnd(true);
  client.SetIOHandler(handler);
  client.SetHost(StalledListener::Host);
  client.SetPort(stalled.Port());
  const auto start = steady_clock::now();
  EXPECT_THROW(client.Connect(1000), EIdConnectTimeout);
  EXPECT_GE(MsSince(start), 900);
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_GE(antiFreeze.Turns, 7);  // one after each of the seven whole steps
}

}  // namespace
}  // namespace qor::test
