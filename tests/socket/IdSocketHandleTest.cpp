#include <gtest/gtest.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "TransportSockets.hpp"
#include "qorclnt/connection/IdComponent.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdSocketHandle.hpp"
#include "qorclnt/socket/IdStackLinux.hpp"
#include "support/LoopbackServer.hpp"
#include "support/Watchdog.hpp"

namespace qor {
namespace {

using namespace std::chrono_literals;
using namespace transport_test;
using std::chrono::steady_clock;
using test::LoopbackServer;
using test::ServerScript;

class SocketHandle : public ::testing::Test {
 protected:
  TIdComponent FStackUser{nullptr};  // keeps CurrentStack alive
  TIdSocketHandle FHandle;

  // A new descriptor bound to the given local end; the port bound.
  int32_t Bind(const std::string& AIP, int32_t APort, int32_t AMin = 0, int32_t AMax = 0) {
    FHandle.Allocate(SOCK_STREAM, 0);
    FHandle.SetIP(AIP);
    FHandle.SetPort(APort);
    FHandle.SetClientPortMin(AMin);
    FHandle.SetClientPortMax(AMax);
    FHandle.Bind();
    return FHandle.Port();
  }
};

TEST_F(SocketHandle, BindsFixedPortOrSystemChoiceAndRefusesPortInUse) {
  EXPECT_GT(Bind("", 0), 0);
  EXPECT_EQ(FHandle.IP(), "0.0.0.0");
  EXPECT_EQ(LocalPort(FHandle.Descriptor()), FHandle.Port());

  const int port = LocalPort(BoundSocket().Get());  // free again once its socket is gone
  EXPECT_EQ(Bind("127.0.0.1", port, 1, 2), port);   // a fixed port ignores the range
  TIdSocketHandle second;
  second.Allocate(SOCK_STREAM, 0);
  second.SetPort(port);
  EXPECT_EQ(MessageOf<EIdCouldNotBindSocket>([&] { second.Bind(); }),
            "Could not bind socket. Address and port are already in use.");
}

TEST_F(SocketHandle, BindSearchesClientPortRangeFromTop) {
  int low = 0;  // three free ports, found at run time
  do low = LocalPort(BoundSocket().Get()) - 2;
  while (!(BoundSocket(low).Valid() && BoundSocket(low + 1).Valid() && BoundSocket(low + 2).Valid()));
  EXPECT_EQ(Bind("127.0.0.1", 0, low, low + 2), low + 2);
  FHandle.CloseDescriptor();
  const UniqueFd top = BoundSocket(low + 2);
  EXPECT_EQ(Bind("127.0.0.1", 0, low, low + 2), low + 1);
  FHandle.CloseDescriptor();
  const UniqueFd rest[] = {BoundSocket(low + 1), BoundSocket(low)};
  EXPECT_EQ(MessageOf<EIdCanNotBindPortInRange>([&] { Bind("127.0.0.1", 0, low, low + 2); }),
            "Can not bind in port range (" + std::to_string(low) + " - " + std::to_string(low + 2) + ")");
  EXPECT_EQ(FHandle.Port(), low);
  EXPECT_NE(Bind("127.0.0.1", 0, 0, low + 2), low + 2);  // one end alone is no range

  EXPECT_EQ(MessageOf<EIdInvalidPortRange>([&] { Bind("", 0, 6000, 5000); }),
            "Invalid Port Range (6000 - 5000)");
  EXPECT_EQ(LocalPort(FHandle.Descriptor()), 0);
}

TEST_F(SocketHandle, ConnectReadsEndpointsBackAndCloseIsFinal) {
  const UniqueFd refusing = BoundSocket();
  Bind("", 0);
  FHandle.SetRemote("127.0.0.1", LocalPort(refusing.Get()));
  EXPECT_EQ(FHandle.ConnectToPeer(AF_INET), -1);
  EXPECT_EQ(FHandle.IP(), "0.0.0.0");

  const test::LoopbackServer server;
  const int32_t bound = Bind("", 0);
  FHandle.SetRemote("127.0.0.1", server.Port());
  EXPECT_EQ(FHandle.ConnectToPeer(AF_INET), 0);
  EXPECT_EQ(FHandle.IP(), "127.0.0.1");
  EXPECT_EQ(FHandle.Port(), bound);
  EXPECT_EQ(FHandle.RemotePort(), server.Port());

  FHandle.CloseDescriptor();
  FHandle.CloseDescriptor();
  EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { FHandle.WaitReadable(-2); }),
            "Connection Closed Gracefully.");
  FHandle.ResetHandle(false);
  EXPECT_EQ(FHandle.Port(), bound);
  EXPECT_EQ(FHandle.RemoteIP(), "");
  EXPECT_EQ(FHandle.Descriptor(), -1);
}

// The Linux stack, counting how often a receive time-out is given to a socket; on request its
// blocking receives end as a receive time-out does, at a chosen moment.
class ReceiveTimeoutStack : public TIdStackLinux {
 public:
  int32_t SetSocketOption(TIdStackSocketHandle AHandle, int32_t ALevel, int32_t AOptName, const void* AOptVal,
                          int32_t AOptLen) override {
    if (ALevel == SOL_SOCKET && AOptName == SO_RCVTIMEO) ++ReceiveTimeoutsSet;
    return TIdStackLinux::SetSocketOption(AHandle, ALevel, AOptName, AOptVal, AOptLen);
  }
  int32_t ReceiveData(TIdStackSocketHandle AHandle, void* ABuffer, int32_t ALength, int32_t AFlags) override {
    if (TimeOutAfter == std::chrono::microseconds::zero() || (AFlags & MSG_DONTWAIT) != 0) {
      return TIdStackLinux::ReceiveData(AHandle, ABuffer, ALength, AFlags);
    }
    std::this_thread::sleep_for(TimeOutAfter);
    errno = EAGAIN;
    return -1;
  }
  int ReceiveTimeoutsSet = 0;
  std::chrono::microseconds TimeOutAfter{0};  // zero: the system's own receive
};

// Receive over a real connection to the loopback server, on the counting stack.
class SocketHandleReceive : public ::testing::Test {
 protected:
  SocketHandleReceive()
      : FSavedClass(std::exchange(StackClass, []() -> std::unique_ptr<TIdStack> {
          return std::make_unique<ReceiveTimeoutStack>();
        })) {}
  ~SocketHandleReceive() override { StackClass = FSavedClass; }

  void Connect(const LoopbackServer& AServer) {
    FHandle.Allocate(SOCK_STREAM, 0);
    FHandle.SetRemote(LoopbackServer::Host, AServer.Port());
    ASSERT_EQ(FHandle.ConnectToPeer(Id_PF_INET), 0);
  }
  // A receive into FBuffer: false when its time ran out; the milliseconds it took go to FTook.
  bool Receive(int32_t ATimeout) {
    const auto start = steady_clock::now();
    const TIdIOResult result = FHandle.Receive(FBuffer, sizeof FBuffer, ATimeout);
    FReceived = result.Count;
    const bool received = !result.TimedOut;
    FTook = std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - start).count();
    return received;
  }
  std::string Bytes() const { return std::string(FBuffer, static_cast<size_t>(std::max(FReceived, 0))); }
  // The receive time-out the descriptor has, in ms.
  long SocketTimeout() const {
    timeval limit{};
    socklen_t length = sizeof limit;
    ::getsockopt(FHandle.Descriptor(), SOL_SOCKET, SO_RCVTIMEO, &limit, &length);
    return static_cast<long>(limit.tv_sec * 1000 + limit.tv_usec / 1000);
  }
  static ReceiveTimeoutStack& Stack() { return dynamic_cast<ReceiveTimeoutStack&>(*CurrentStack); }
  static int TimeoutsSet() { return Stack().ReceiveTimeoutsSet; }

  test::Watchdog FWatchdog{60s, "SocketHandleReceive"};  // a wait without limit fails the test
  TIdStackClass FSavedClass;
  TIdComponent FStackUser{nullptr};  // keeps the counting stack alive
  TIdSocketHandle FHandle;
  char FBuffer[16] = {};
  int32_t FReceived = -7;
  long FTook = 0;
};

TEST_F(SocketHandleReceive, WaitsItsWholeTimeAndSetsTheSocketTimeOutOnlyWhenItChanges) {
  LoopbackServer server(ServerScript().WaitFor("go").Silence(300ms).Send("late"));
  Connect(server);
  EXPECT_FALSE(Receive(200));
  EXPECT_GE(FTook, 200);  // never early, although the system's timer is coarser
  EXPECT_LT(FTook, 5000);
  EXPECT_NEAR(SocketTimeout(), 200, 10);
  EXPECT_FALSE(Receive(200));
  EXPECT_EQ(TimeoutsSet(), 1);

  EXPECT_FALSE(Receive(0));  // a poll: no wait, the socket's time-out untouched
  EXPECT_LT(FTook, 1000);
  EXPECT_NEAR(SocketTimeout(), 200, 10);
  EXPECT_EQ(TimeoutsSet(), 1);

  EXPECT_FALSE(Receive(300));
  EXPECT_GE(FTook, 300);
  EXPECT_NEAR(SocketTimeout(), 300, 10);
  EXPECT_FALSE(Receive(-5));  // a time no wait accepts
  EXPECT_EQ(TimeoutsSet(), 2);

  ASSERT_EQ(FHandle.SendBuffer("go", 2, 0), 2);
  EXPECT_TRUE(Receive(IdTimeoutInfinite));  // outlasts the server's silence
  EXPECT_EQ(Bytes(), "late");
  EXPECT_EQ(SocketTimeout(), 0);
  EXPECT_EQ(TimeoutsSet(), 3);
}

TEST_F(SocketHandleReceive, AReceiveTimeOutThatEndsEarlyOrLateEndsTheWaitOnTime) {
  LoopbackServer server;  // silent
  Connect(server);
  Stack().TimeOutAfter = 60ms;  // early, as the system's timer tick may end it: the rest is waited out
  EXPECT_FALSE(Receive(100));
  EXPECT_GE(FTook, 100);
  EXPECT_LT(FTook, 5000);
  Stack().TimeOutAfter = 102200us;  // late: the wait is over, whatever is left to compute
  EXPECT_FALSE(Receive(100));
  EXPECT_LT(FTook, 5000);
}

TEST_F(SocketHandleReceive, ANewDescriptorOrACallersOwnTimeOutIsSetAgain) {
  LoopbackServer server;  // silent
  Connect(server);
  EXPECT_FALSE(Receive(200));
  FHandle.CloseDescriptor();
  EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { Receive(0); }), "Connection Closed Gracefully.");
  Connect(server);  // a new socket, without a time-out
  EXPECT_FALSE(Receive(200));
  EXPECT_GE(FTook, 200);
  EXPECT_LT(FTook, 5000);
  EXPECT_NEAR(SocketTimeout(), 200, 10);

  const timeval other{2, 0};
  FHandle.SetOption(SOL_SOCKET, SO_RCVTIMEO, &other, sizeof other);
  EXPECT_FALSE(Receive(200));
  EXPECT_LT(FTook, 1500);
  EXPECT_NEAR(SocketTimeout(), 200, 10);
  EXPECT_EQ(TimeoutsSet(), 4);
}

TEST_F(SocketHandleReceive, APlainReceiveAfterATimedOneBlocksUntilDataArrives) {
  LoopbackServer server(ServerScript().WaitFor("go").Silence(500ms).Send("late"));
  Connect(server);
  EXPECT_FALSE(Receive(100));
  ASSERT_EQ(FHandle.SendBuffer("go", 2, 0), 2);
  const auto start = steady_clock::now();
  EXPECT_EQ(FHandle.ReceiveBuffer(FBuffer, sizeof FBuffer, 0), 4);
  EXPECT_GE(steady_clock::now() - start, 400ms);
  EXPECT_EQ(SocketTimeout(), 0);
}

}  // namespace
}  // namespace qor
