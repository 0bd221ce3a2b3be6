#include "socket/IdIOHandlerSocket.hpp"

#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include <thread>
#include <utility>
#include <vector>

#include "TransportSockets.hpp"
#include "errors/IdException.hpp"

namespace qor {
namespace {

using namespace transport_test;
using Clock = std::chrono::steady_clock;

class IOHandlerSocket : public ::testing::Test {
 protected:
  TIdIOHandlerSocket FHandler{nullptr};
  std::vector<std::pair<TIdStatus, std::string>> FStatus;

  void SetUp() override {
    FHandler.Open();
    FHandler.OnStatus = [this](TComponent*, TIdStatus AStatus, const std::string& AText) {
      FStatus.emplace_back(AStatus, AText);
    };
  }
  // Connects afresh; the milliseconds it took.
  long Connect(const std::string& AHost, int APort, int32_t ATimeout) {
    FHandler.Close();
    FHandler.Open();
    const auto start = Clock::now();
    FHandler.ConnectTo(AHost, APort, "", 0, 0, 0, ATimeout);
    return ElapsedMs(start);
  }
  int32_t NoDelay() {
    int value = -1;
    socklen_t length = sizeof value;
    ::getsockopt(FHandler.Socket()->Descriptor(), IPPROTO_TCP, TCP_NODELAY, &value, &length);
    return value;
  }
};

TEST_F(IOHandlerSocket, TimedConnectReportsRefusalAfterOneStep) {
  const Port refusing;
  const auto start = Clock::now();
  EXPECT_EQ(MessageOf<EIdConnectException>([&] { Connect("127.0.0.1", refusing.Number(), 1000); }),
            "Socket Error # 111\r\nConnection refused.");
  EXPECT_GE(ElapsedMs(start), 115);
  EXPECT_LT(ElapsedMs(start), 900);
  EXPECT_TRUE(FHandler.IsConnected());  // the descriptor stays until somebody closes it
}

TEST_F(IOHandlerSocket, TimedConnectGivesUpAndClosesWithWorkerJoined) {
  const FullListener full;
  std::thread([] {}).join();  // lets a lazily started runtime thread show up before the count
  const int threads = ThreadCount();
  const auto start = Clock::now();
  EXPECT_EQ(MessageOf<EIdConnectTimeout>([&] { Connect("127.0.0.1", full.Number(), 1000); }), "Connect timed out.");
  EXPECT_GE(ElapsedMs(start), 900);
  EXPECT_LT(ElapsedMs(start), 5000);
  EXPECT_FALSE(FHandler.IsConnected());
  EXPECT_EQ(ThreadCount(), threads);

  // One millisecond often ends the wait before the worker has reached its connect; the worker is
  // still gone before the call returns, and the next socket (most likely the number just closed)
  // is left alone.
  for (int i = 0; i < 10; ++i) {
    EXPECT_THROW(Connect("127.0.0.1", full.Number(), 1), EIdConnectTimeout);
    EXPECT_EQ(ThreadCount(), threads);
    const Fd next(::socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_EQ(LocalPort(next.Value), 0);
  }
}

TEST_F(IOHandlerSocket, ConnectTimesAndThreads) {
  const Port listener(8);
  EXPECT_GE(Connect("127.0.0.1", listener.Number(), 100), 95);  // always the whole short time-out
  EXPECT_LT(Connect("127.0.0.1", listener.Number(), -2), 5000);
  EXPECT_EQ(FHandler.Socket()->RemotePort(), listener.Number());
  Connect("127.0.0.1", listener.Number(), 0);
  EXPECT_EQ(FHandler.Socket()->IP(), "127.0.0.1");

  const Port refusing;
  for (const int32_t timeout : {-1, 0}) {  // on the calling thread, with the system's error
    try {
      Connect("127.0.0.1", refusing.Number(), timeout);
      ADD_FAILURE() << "connected to a refusing port";
    } catch (const EIdSocketError& error) {
      EXPECT_EQ(error.ErrorCode(), 111);
    }
  }
}

TEST_F(IOHandlerSocket, ReportsResolvingOnlyForNamesAndSetsNoDelayOnRequest) {
  const Port listener(8);
  Connect("127.0.0.1", listener.Number(), -1);
  EXPECT_EQ(NoDelay(), 0);
  FHandler.SetUseNagle(false);
  Connect("LOCALHOST", listener.Number(), 1000);
  EXPECT_NE(NoDelay(), 0);
  const std::vector<std::pair<TIdStatus, std::string>> expected{{hsConnecting, "Connecting to 127.0.0.1."},
                                                                {hsResolving, "Resolving hostname LOCALHOST."},
                                                                {hsConnecting, "Connecting to 127.0.0.1."}};
  EXPECT_EQ(FStatus, expected);
}

TEST_F(IOHandlerSocket, BuffersNeedAnOpenSocketAndOpenReusesTheHandle) {
  TIdIOHandlerSocket fresh(nullptr);
  char buffer[4] = {};
  EXPECT_EQ(MessageOf<EIdClosedSocket>([&] { fresh.ReceiveBuffer(buffer, 4); }), "Disconnected.");
  EXPECT_THROW(fresh.WaitReadable(0), EIdConnClosedGracefully);

  const Port listener(1);
  Connect("127.0.0.1", listener.Number(), -1);
  const Fd peer(::accept(listener.Value, nullptr, nullptr));
  EXPECT_EQ(FHandler.SendBuffer("hi", 2), 2);
  ::send(peer.Value, "ok", 2, 0);
  EXPECT_TRUE(FHandler.WaitReadable(-2));
  EXPECT_EQ(FHandler.ReceiveBuffer(buffer, 4), 2);

  FHandler.Close();
  FHandler.Close();
  EXPECT_EQ(MessageOf<EIdClosedSocket>([&] { FHandler.SendBuffer("x", 1); }), "Disconnected.");
  TIdSocketHandle* const socket = FHandler.Socket();
  FHandler.Open();
  EXPECT_EQ(FHandler.Socket(), socket);
  EXPECT_EQ(socket->RemoteIP(), "");
}

TEST_F(IOHandlerSocket, IdleProcessingSlicesEveryWait) {
  const FullListener full;
  CountingAntiFreeze antiFreeze(nullptr);
  antiFreeze.IdleTimeOut = 50;
  EXPECT_THROW(Connect("127.0.0.1", full.Number(), 1000), EIdConnectTimeout);
  EXPECT_EQ(antiFreeze.Turns, 19);  // steps of 50 ms, then the last 50 ms

  const Port refusing;  // a connect without time-out becomes a timed one
  EXPECT_THROW(Connect("127.0.0.1", refusing.Number(), -1), EIdConnectException);

  const Port listener(1);
  Connect("127.0.0.1", listener.Number(), 1000);
  antiFreeze.Turns = 0;
  antiFreeze.IdleTimeOut = 100;
  EXPECT_FALSE(FHandler.WaitReadable(250));  // 50, 100, 100
  EXPECT_EQ(antiFreeze.Turns, 3);
}

}  // namespace
}  // namespace qor
