#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ConnectionFixture.hpp"
#include "qorclnt/errors/IdException.hpp"

namespace qor::test {
namespace {

using Close = ConnectionFixture;
const std::vector<std::string> Announced{"status:4", "disconnected"};

TEST_F(Close, AZeroByteReceiveClosesAndAnnouncesOnce) {
  handler->QueueClose();
  EXPECT_TRUE(connection.Connected());  // not seen before a receive meets it
  EXPECT_THROW(connection.ReadLn(), EIdConnClosedGracefully);
  EXPECT_EQ(events, Announced);
  EXPECT_FALSE(connection.Connected());
  EXPECT_THROW(connection.ReadLn(), EIdConnClosedGracefully);
  EXPECT_THROW(connection.WriteLn("x"), EIdConnClosedGracefully);
  EXPECT_EQ(events, Announced);
  EXPECT_EQ(handler->CloseCount(), 1);
}

TEST_F(Close, AZeroByteSendClosesAndAnnouncesOnce) {
  handler->QueueSendLimit(0);
  EXPECT_THROW(connection.WriteLn("x"), EIdConnClosedGracefully);
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(events, Announced);
}

TEST_F(Close, DisconnectAnnouncesInItsOwnOrderEvenWhenNeverConnected) {
  TIdTCPConnection idle(nullptr);
  std::vector<std::string> seen;
  idle.OnStatus = [&](TComponent*, TIdStatus, const std::string& AText) { seen.push_back(AText); };
  idle.OnDisconnected = [&](TComponent* ASender) { seen.push_back(ASender == &idle ? "disconnected" : "?"); };
  idle.Disconnect();
  EXPECT_EQ(seen, (std::vector<std::string>{"Disconnecting.", "disconnected", "Disconnected."}));
  idle.Write("");  // nothing to send: nothing checked
  EXPECT_EQ(MessageOf<EIdNotConnected>([&] { idle.WriteLn("x"); }), "Not Connected");
  EXPECT_THROW(idle.ReadLn(), EIdNotConnected);
}

TEST_F(Close, ReceiveFailuresRaiseTheirNumberAndOnlyResetsAndAbortsDropTheSocket) {
  handler->QueueReceiveError(ENOMEM).QueueReceive("a\n");
  EXPECT_EQ(MessageOf<EIdSocketError>([&] { connection.ReadLn(); }).substr(0, 17), "Socket Error # 12");
  EXPECT_EQ(connection.ReadLn(), "a");  // still open

  handler->QueueReceiveError(ECONNRESET);
  EXPECT_EQ(MessageOf<EIdSocketError>([&] { connection.ReadLn(); }),
            "Socket Error # 104\r\nConnection reset by peer.");
  EXPECT_FALSE(connection.Connected());

  connection.ResetForConnect();
  handler->SetConnected(true);
  handler->QueueReceive("b").QueueReceiveError(ECONNABORTED);  // with input buffered: no error
  EXPECT_EQ(connection.ReadLn(), "");
  EXPECT_FALSE(connection.Connected());

  connection.ResetForConnect();
  handler->SetConnected(true);
  handler->QueueReceiveError(ESHUTDOWN);  // with nothing buffered: its number
  EXPECT_EQ(MessageOf<EIdSocketError>([&] { connection.ReadLn(); }).substr(0, 18), "Socket Error # 108");
  EXPECT_FALSE(connection.Connected());
  EXPECT_TRUE(events.empty());  // dropped, not announced
}

TEST_F(Close, SendFailuresDropTheSocketOnlyForResetAndAbort) {
  handler->QueueSendError(ENOBUFS);  // any number but the three below
  EXPECT_THROW(connection.WriteLn("x"), EIdSocketError);
  EXPECT_TRUE(connection.Connected());
  handler->QueueSendError(ECONNRESET);
  EXPECT_EQ(MessageOf<EIdSocketError>([&] { connection.WriteLn("x"); }),
            "Socket Error # 104\r\nConnection reset by peer.");
  EXPECT_FALSE(connection.Connected());
  EXPECT_TRUE(events.empty());
}

TEST_F(Close, OnlyAnOwnedHandlerIsFreedAndARemovedOneIsForgotten) {
  auto* owned = new TFakeIOHandler(&connection);
  connection.SetIOHandler(owned);
  connection.SetOwnsIOHandler(true);
  connection.SetIOHandler(owned);  // the same handler again: kept
  EXPECT_EQ(connection.ComponentCount(), 2);
  connection.SetIOHandler(new TFakeIOHandler(&connection));  // frees the owned one
  EXPECT_EQ(connection.ComponentCount(), 2);
  connection.SetOwnsIOHandler(true);
  connection.Disconnect();
  EXPECT_EQ(connection.IOHandler(), nullptr);
  EXPECT_EQ(connection.ComponentCount(), 1);

  connection.SetIOHandler(handler);
  connection.Disconnect();  // not owned: stays attached
  EXPECT_EQ(connection.IOHandler(), handler);
  delete handler;
  EXPECT_EQ(connection.IOHandler(), nullptr);
}

}  // namespace
}  // namespace qor::test
