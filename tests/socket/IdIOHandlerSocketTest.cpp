#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "TransportSockets.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "qorclnt/socket/IdStackLinux.hpp"
#include "support/CountingAntiFreeze.hpp"
#include "support/Elapsed.hpp"
#include "support/LoopbackServer.hpp"

namespace qor {
namespace {

using namespace transport_test;
using std::chrono::steady_clock;
using test::CountingAntiFreeze;
using test::MsSince;

int ThreadCount() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<int>(std::distance(begin(tasks), end(tasks)));
}

class IOHandlerSocket : public ::testing::Test {
 protected:
  TIdIOHandlerSocket FHandler{nullptr};
  std::vector<std::pair<TIdStatus, std::string>> FStatus;

  void SetUp() override {
    FHandler.OnStatus = [this](TComponent*, TIdStatus AStatus, const std::string& AText) {
      FStatus.emplace_back(AStatus, AText);
    };
  }
  // Connects afresh; the milliseconds it took.
  long Connect(const std::string& AHost, int APort, int32_t ATimeout) {
    FHandler.Close();
    FHandler.Open();
    const auto start = steady_clock::now();
    FHandler.ConnectTo(AHost, APort, "", 0, 0, 0, ATimeout);
    return MsSince(start);
  }
  int NoDelay() {
    int value = -1;
    socklen_t length = sizeof value;
    ::getsockopt(FHandler.Socket()->Descriptor(), IPPROTO_TCP, TCP_NODELAY, &value, &length);
    return value;
  }
};

TEST_F(IOHandlerSocket, TimedConnectEndsWithWorkerErrorOrTimeOut) {
  const UniqueFd refusing = BoundSocket();
  auto start = steady_clock::now();
  EXPECT_EQ(MessageOf<EIdConnectException>([&] { Connect("127.0.0.1", LocalPort(refusing.Get()), 1000); }),
            "Socket Error # 111\r\nConnection refused.");
  EXPECT_GE(MsSince(start), 115);  // noticed after the first step
  EXPECT_LT(MsSince(start), 900);
  EXPECT_TRUE(FHandler.IsConnected());  // the descriptor stays until somebody closes it

  const FullListener full;
  std::thread([] {}).join();  // lets a lazily started runtime thread show up before the count
  const int threads = ThreadCount();
  start = steady_clock::now();
  EXPECT_EQ(MessageOf<EIdConnectTimeout>([&] { Connect("127.0.0.1", full.Port, 1000); }),
            "Connect timed out.");
  EXPECT_GE(MsSince(start), 900);
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_FALSE(FHandler.IsConnected());
  EXPECT_EQ(ThreadCount(), threads);
}

// A stack whose connect begins only after the waiting thread has given up on it (shut the socket
// down), and notes whether the descriptor was still open then.
class LateConnectStack : public TIdStackLinux {
 public:
  int32_t ShutdownSocket(TIdStackSocketHandle AHandle, int32_t AHow) override {
    std::lock_guard lock(FLock);
    FGivenUp = true;
    FChanged.notify_all();
    return TIdStackLinux::ShutdownSocket(AHandle, AHow);
  }
  int32_t ConnectSocket(TIdStackSocketHandle AHandle, uint16_t AFamily, const std::string& AIP,
                        int32_t APort) override {
    std::unique_lock lock(FLock);
    FChanged.wait(lock, [this] { return FGivenUp; });
    OpenAtConnect = ::fcntl(AHandle, F_GETFD) != -1;
    lock.unlock();
    return TIdStackLinux::ConnectSocket(AHandle, AFamily, AIP, APort);
  }
  bool OpenAtConnect = false;

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FGivenUp = false;
};

TEST(ConnectThread, LateWorkerConnectsItsOwnSocketAndGivesUpAtOnce) {
  const TIdStackClass saved = std::exchange(
      StackClass, []() -> std::unique_ptr<TIdStack> { return std::make_unique<LateConnectStack>(); });
  TIdIOHandlerSocket handler(nullptr);
  StackClass = saved;
  const FullListener full;
  handler.Open();
  const auto start = steady_clock::now();
  EXPECT_THROW(handler.ConnectTo("127.0.0.1", full.Port, "", 0, 0, 0, 1), EIdConnectTimeout);
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_TRUE(dynamic_cast<LateConnectStack&>(*CurrentStack).OpenAtConnect);
}

TEST_F(IOHandlerSocket, ConnectWaitsByTimeoutKind) {
  const test::LoopbackServer server;
  EXPECT_GE(Connect("127.0.0.1", server.Port(), 100), 95);  // always the whole short time-out
  EXPECT_LT(Connect("127.0.0.1", server.Port(), -2), 5000);
  EXPECT_EQ(FHandler.Socket()->RemotePort(), server.Port());

  const UniqueFd refusing = BoundSocket();
  for (const int32_t timeout : {-1, 0}) {  // on the calling thread, with the system's error
    try {
      Connect("127.0.0.1", LocalPort(refusing.Get()), timeout);
      ADD_FAILURE() << "connected to a refusing port";
    } catch (const EIdSocketError& error) {
      EXPECT_EQ(error.ErrorCode(), 111);
    }
  }
}

TEST_F(IOHandlerSocket, ReportsResolvingOnlyForNamesAndSetsNoDelayOnRequest) {
  const test::LoopbackServer server;
  Connect("127.0.0.1", server.Port(), -1);
  EXPECT_EQ(NoDelay(), 0);
  FHandler.SetUseNagle(false);
  Connect("LOCALHOST", server.Port(), 1000);
  EXPECT_NE(NoDelay(), 0);
  const std::vector<std::pair<TIdStatus, std::string>> expected{
      {hsConnecting, "Connecting to 127.0.0.1."},
      {hsResolving, "Resolving hostname LOCALHOST."},
      {hsConnecting, "Connecting to 127.0.0.1."}};
  EXPECT_EQ(FStatus, expected);
}

TEST_F(IOHandlerSocket, BuffersNeedAnOpenSocketAndOpenReusesTheHandle) {
  const test::LoopbackServer server;
  Connect("127.0.0.1", server.Port(), -1);
  FHandler.Close();
  FHandler.Close();
  EXPECT_EQ(MessageOf<EIdClosedSocket>([&] { FHandler.ReceiveBuffer(nullptr, 1); }), "Disconnected.");
  TIdSocketHandle* const socket = FHandler.Socket();
  FHandler.Open();
  EXPECT_EQ(FHandler.Socket(), socket);
  EXPECT_EQ(socket->RemoteIP(), "");
}

TEST_F(IOHandlerSocket, IdleProcessingSlicesEveryWait) {
  const FullListener full;
  CountingAntiFreeze antiFreeze(nullptr);
  antiFreeze.IdleTimeOut = 50;
  EXPECT_THROW(Connect("127.0.0.1", full.Port, 1000), EIdConnectTimeout);
  EXPECT_EQ(antiFreeze.Turns, 19);  // steps of 50 ms, then the last 50 ms

  const UniqueFd refusing = BoundSocket();  // a connect without time-out becomes a timed one
  EXPECT_THROW(Connect("127.0.0.1", LocalPort(refusing.Get()), -1), EIdConnectException);

  const test::LoopbackServer server;
  Connect("127.0.0.1", server.Port(), 1000);
  antiFreeze.Turns = 0;
  antiFreeze.IdleTimeOut = 100;
  EXPECT_FALSE(FHandler.WaitReadable(250));  // 50, 100, 100
  EXPECT_EQ(antiFreeze.Turns, 3);
}

}  // namespace
}  // namespace qor
