// Numeric replies read by a connection, over the fake I/O handler and over a loopback server.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "qorclnt/connection/IdTCPConnection.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "support/FakeIOHandler.hpp"
#include "support/LoopbackServer.hpp"

namespace qor {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

struct FakeConnection : ::testing::Test {
  FakeConnection() {
    Handler.SetConnected(true);
    Connection.SetIOHandler(&Handler);
  }
  test::TFakeIOHandler Handler;
  TIdTCPConnection Connection{nullptr};
};

TEST_F(FakeConnection, ReadsOneReplyUpToItsLastLine) {
  Handler.QueueReceive("\r\n  200 OK  \r\n250-first\r\n\r\n  \r\n251 other\n250 last\r\n300 next\r\n");
  EXPECT_EQ(Connection.ReadReply({}), 200);
  EXPECT_EQ(Connection.LastReply().Text(), Lines{"OK"});
  // Blank lines inside are skipped; another code does not end the reply, the first line's code does.
  EXPECT_EQ(Connection.ReadReply({250}), 250);
  EXPECT_EQ(Connection.LastReply().Text(), (Lines{"first", "other", "last"}));
  EXPECT_EQ(Connection.ReadLn(), "300 next");

  // The code and a space alone arrive trimmed and end the reply; letters compare in either case.
  Handler.QueueReceive("421-a\r\n421 \r\nab1-x\r\nAB1 y\r\nHello\r\n");
  EXPECT_EQ(Connection.ReadReply({}), 421);
  EXPECT_EQ(Connection.LastReply().Text(), (Lines{"a", ""}));
  EXPECT_EQ(Connection.ReadReply({}), 0);
  EXPECT_EQ(Connection.LastReply().Text(), (Lines{"x", "y"}));
  EXPECT_EQ(Connection.ReadReply({}), 0);
  EXPECT_EQ(Connection.LastReply().TextCode(), "Hell");
}

TEST_F(FakeConnection, ARefusedCodeRaisesTheReplyText) {
  Handler.QueueReceive("550-no\r\n550-such\r\n550 mailbox\r\n");
  try {
    Connection.ReadReply({250, 251});
    FAIL() << "550 was accepted";
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ErrorCode(), 550);
    EXPECT_EQ(e.Message(), "no\nsuch\nmailbox\n");
  }
  EXPECT_EQ(Connection.CheckReplyCode(550, {}), 550);
  EXPECT_EQ(Connection.CheckReplyCode(251, {250, 251}), 251);
  try {
    Connection.RaiseReplyError(ExceptClass::Of<EIdReadTimeout>());
    FAIL() << "nothing raised";
  } catch (const EIdReadTimeout& e) {
    EXPECT_EQ(e.Message(), "no\nsuch\nmailbox\n");
  }
}

TEST_F(FakeConnection, AReplyCutShortLeavesTheLastOneAsItWas) {
  Handler.QueueReceive("200 OK\r\n250-first\r\n");
  Connection.ReadReply({});
  EXPECT_THROW(Connection.ReadReply({}), EIdReadTimeout);
  Handler.QueueReceive("250-second\r\n250 par").QueueClose();
  EXPECT_THROW(Connection.ReadReply({}), EIdConnClosedGracefully);
  EXPECT_EQ(Connection.LastReply().NumericCode(), 200);
  EXPECT_EQ(Connection.LastReply().Text(), Lines{"OK"});
}

TEST(LoopbackReply, SendCommandWritesTheLineAndReadsTheReply) {
  test::LoopbackServer server(test::ServerScript()
                                  .WaitFor("HELO x\r\n")
                                  .Send("250-hi\r\n250 there\r\n")
                                  .WaitFor("QUIT\r\n")
                                  .Send("221 bye\r\n")
                                  .Silence(5s));
  TIdIOHandlerSocket handler(nullptr);
  TIdTCPConnection connection(nullptr);
  connection.SetIOHandler(&handler);
  connection.SetReadTimeout(1000);
  handler.Open();
  handler.ConnectTo(test::LoopbackServer::Host, server.Port(), "", 0, 0, 0, 1000);
  EXPECT_EQ(connection.SendCommand("HELO x", {250}), 250);
  EXPECT_EQ(connection.LastReply().Text(), (Lines{"hi", "there"}));
  EXPECT_THROW(connection.SendCommand("QUIT", {220}), EIdProtocolReplyError);
  EXPECT_EQ(connection.LastReply().NumericCode(), 221);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(connection.ReadReply({}), EIdReadTimeout);  // the server goes silent
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 900ms);
  EXPECT_LT(waited, 5s);
  EXPECT_EQ(server.Received(), "HELO x\r\nQUIT\r\n");
}

}  // namespace
}  // namespace qor
