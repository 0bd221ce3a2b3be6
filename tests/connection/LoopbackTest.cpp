// The connection over a real socket handler against the scripted loopback server.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "qorclnt/connection/IdTCPConnection.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "support/CountingAntiFreeze.hpp"
#include "support/Elapsed.hpp"
#include "support/LoopbackServer.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Loopback : public ::testing::Test {
 protected:
  // Connects the way the client does: an owned socket handler, opened, then a direct connect.
  void Connect(const LoopbackServer& AServer) {
    auto* handler = new TIdIOHandlerSocket(&connection);
    connection.SetIOHandler(handler);
    connection.SetOwnsIOHandler(true);
    handler->Open();
    connection.ResetForConnect();
    handler->ConnectTo(LoopbackServer::Host, AServer.Port(), "", 0, 0, 0, -1);
    ASSERT_TRUE(connection.Connected());
  }

  TIdTCPConnection connection{nullptr};
};

TEST_F(Loopback, TimeOutsWaitTheirTimeOnASilentPeer) {
  LoopbackServer server;  // records, never sends
  Connect(server);
  connection.SetReadTimeout(1000);
  auto start = Clock::now();
  EXPECT_THROW(connection.ReadLn(), EIdReadTimeout);
  EXPECT_GE(MsSince(start), 900);
  EXPECT_LT(MsSince(start), 5000);

  start = Clock::now();
  EXPECT_EQ(connection.ReadLn("\n", 200), "");
  EXPECT_TRUE(connection.LineReadEmpty());
  EXPECT_GE(MsSince(start), 180);
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_TRUE(connection.Connected());
}

TEST_F(Loopback, EachWaitKeepsItsTimeOutWhenItChangesAndOnANewSocket) {
  LoopbackServer server;  // silent on every connection
  Connect(server);
  for (const int32_t timeout : {300, 1000, 300}) {
    connection.SetReadTimeout(timeout);
    const auto start = Clock::now();
    EXPECT_THROW(connection.ReadLn(), EIdReadTimeout);
    EXPECT_GE(MsSince(start), timeout * 9 / 10);
    EXPECT_LT(MsSince(start), 5000);
  }
  auto start = Clock::now();
  EXPECT_EQ(connection.ReadLn("\n", 0), "");  // a look without waiting
  EXPECT_TRUE(connection.LineReadEmpty());
  EXPECT_LT(MsSince(start), 1000);

  // The same handler connects again: its socket handle gets a new descriptor, without a time-out.
  TIdIOHandler* const handler = connection.IOHandler();
  handler->Close();
  handler->Open();
  handler->ConnectTo(LoopbackServer::Host, server.Port(), "", 0, 0, 0, -1);
  start = Clock::now();
  EXPECT_THROW(connection.ReadLn(), EIdReadTimeout);
  EXPECT_GE(MsSince(start), 270);
  EXPECT_LT(MsSince(start), 5000);
}

TEST_F(Loopback, WithIdleProcessingTheWaitForAReplyGivesTurns) {
  LoopbackServer server(ServerScript().WaitFor("\r\n").Silence(300ms).Send("late\r\n"));
  Connect(server);
  connection.SetReadTimeout(100);
  EXPECT_THROW(connection.ReadLn(), EIdReadTimeout);  // leaves a receive time-out on the socket
  CountingAntiFreeze antiFreeze(nullptr);
  antiFreeze.IdleTimeOut = 100;
  connection.SetReadTimeout(250);
  EXPECT_THROW(connection.ReadLn(), EIdReadTimeout);
  EXPECT_EQ(antiFreeze.Turns, 3);  // 50, 100, 100

  connection.WriteLn("go");
  connection.SetReadTimeout(5000);
  EXPECT_EQ(connection.ReadLn(), "late");
  EXPECT_GE(antiFreeze.Turns, 5);
}

TEST_F(Loopback, LinesCrossTheSocketAndAPartialLineBeforeTheCloseIsKept) {
  LoopbackServer server(ServerScript().WaitFor("\r\n").Send("one\r\ntw").Send("o\nabc").Close());
  Connect(server);
  int disconnected = 0;
  connection.OnDisconnected = [&](TComponent*) { ++disconnected; };
  connection.WriteLn("HELLO");
  EXPECT_EQ(connection.ReadLn(), "one");
  EXPECT_EQ(connection.ReadLn(), "two");
  EXPECT_EQ(connection.ReadLn(), "");
  EXPECT_TRUE(connection.LineReadEmpty());
  EXPECT_FALSE(connection.Connected());
  EXPECT_THROW(connection.ReadLn(), EIdConnClosedGracefully);
  EXPECT_EQ(disconnected, 1);
  EXPECT_EQ(server.Received(), "HELLO\r\n");
  connection.Disconnect();  // frees the handler; the input stays until the next connect
  EXPECT_EQ(connection.IOHandler(), nullptr);
  EXPECT_EQ(connection.ReadAvailable(), "abc");
}

TEST_F(Loopback, AResetByThePeerIsASocketError) {
  // The reset follows the client's line, so that it cannot meet the connect itself.
  LoopbackServer server(ServerScript().WaitFor("go\r\n").Reset());
  Connect(server);
  connection.WriteLn("go");
  try {
    connection.ReadLn();
    FAIL() << "no error";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), ECONNRESET);
  }
}

TEST_F(Loopback, AHugeStreamWithoutALineEndIsRefusedWithinTheLimit) {
  LoopbackServer server(ServerScript().Send(std::string(8 << 20, 'x')));
  Connect(server);
  EXPECT_THROW(connection.ReadLn(), EIdReadLnMaxLineLengthExceeded);
  EXPECT_GT(connection.InBuffer().Size(), 16384);
  EXPECT_LE(connection.InBuffer().Size(), 16384 + 32768);
  EXPECT_THROW(connection.ReadLn(), EIdReadLnMaxLineLengthExceeded);
  EXPECT_LE(connection.InBuffer().Size(), 16384 + 32768);
}

}  // namespace
}  // namespace qor::test
