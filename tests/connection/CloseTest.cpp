#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ConnectionFixture.hpp"
#include "errors/IdException.hpp"

namespace qor::test {
namespace {

using Close = ConnectionFixture;

TEST_F(Close, AReceiveOfZeroBytesClosesAndAnnouncesOnce) {
  handler->QueueClose();
  EXPECT_TRUE(connection.Connected());  // the close is not seen before a receive meets it
  EXPECT_THROW(connection.ReadLn(), EIdConnClosedGracefully);
  EXPECT_EQ(events, (std::vector<std::string>{Status(hsDisconnected), "disconnected"}));
  EXPECT_EQ(handler->CloseCount(), 1);
  EXPECT_TRUE(connection.ClosedMark());
  EXPECT_FALSE(connection.Connected());
  EXPECT_THROW(connection.ReadLn(), EIdConnClosedGracefully);
  EXPECT_THROW(connection.WriteLn("x"), EIdConnClosedGracefully);
  EXPECT_EQ(events.size(), 2u);  // announced once
}

TEST_F(Close, ASendOfZeroBytesClosesAndAnnouncesOnce) {
  handler->QueueSendLimit(0);
  EXPECT_THROW(connection.WriteLn("x"), EIdConnClosedGracefully);
  EXPECT_EQ(events, (std::vector<std::string>{Status(hsDisconnected), "disconnected"}));
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(Close, PollForCloseNoticesTheCloseAndKeepsWhatArrived) {
  handler->QueueReceive("late").QueueClose();
  connection.PollForClose(false);
  connection.PollForClose(false);
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(handler->WaitTimeouts(), (std::vector<int32_t>{1, 1}));
  EXPECT_EQ(connection.ReadAvailable(), "late");
}

TEST_F(Close, DisconnectAnnouncesInItsOwnOrderEvenWhenNeverConnected) {
  TIdTCPConnection idle(nullptr);
  std::vector<std::string> seen;
  idle.OnStatus = [&](TComponent*, TIdStatus AStatus, const std::string& AText) {
    seen.push_back(std::to_string(AStatus) + " " + AText);
  };
  idle.OnDisconnected = [&](TComponent* ASender) {
    EXPECT_EQ(ASender, &idle);
    seen.push_back("disconnected");
  };
  idle.Disconnect();
  EXPECT_EQ(seen, (std::vector<std::string>{"3 Disconnecting.", "disconnected", "4 Disconnected."}));
  EXPECT_FALSE(idle.Connected());
  idle.Write("");  // nothing to send: nothing checked
  try {
    idle.WriteLn("x");
    FAIL() << "no error";
  } catch (const EIdNotConnected& e) {
    EXPECT_STREQ(e.what(), "Not Connected");
  }
  EXPECT_THROW(idle.ReadLn(), EIdNotConnected);
}

TEST_F(Close, AResetOnReceiveRaisesAndKeepsTheSocketWhileAbortsDropIt) {
  handler->QueueReceiveError(ECONNRESET).QueueReceive("a\n");
  try {
    connection.ReadLn();
    FAIL() << "no error";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), ECONNRESET);
    EXPECT_EQ(std::string(e.what()), "Socket Error # 104\r\nConnection reset by peer.");
  }
  EXPECT_TRUE(connection.Connected());
  EXPECT_EQ(connection.ReadLn(), "a");

  // An abort with something buffered ends the read without an error, and without announcements.
  handler->QueueReceive("b").QueueReceiveError(ECONNABORTED);
  EXPECT_EQ(connection.ReadLn(), "");
  EXPECT_TRUE(connection.LineReadEmpty());
  EXPECT_FALSE(connection.Connected());
  EXPECT_TRUE(events.empty());
}

TEST_F(Close, AnAbortOnReceiveWithNothingBufferedRaisesItsNumber) {
  handler->QueueReceiveError(ESHUTDOWN);
  try {
    connection.ReadLn();
    FAIL() << "no error";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), ESHUTDOWN);
  }
  EXPECT_FALSE(connection.Connected());
  EXPECT_TRUE(events.empty());
}

TEST_F(Close, ASendFailureDropsTheSocketOnlyForResetAndAbort) {
  handler->QueueSendError(EPIPE);
  EXPECT_THROW(connection.WriteLn("x"), EIdSocketError);
  EXPECT_TRUE(connection.Connected());

  handler->QueueSendError(ECONNRESET);
  try {
    connection.WriteLn("x");
    FAIL() << "no error";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), ECONNRESET);
  }
  EXPECT_FALSE(connection.Connected());
  EXPECT_TRUE(connection.ClosedMark());
  EXPECT_TRUE(events.empty());
}

TEST_F(Close, AnOwnedHandlerIsFreedByDisconnectAndByReplacement) {
  auto* owned = new TFakeIOHandler(&connection);
  connection.SetIOHandler(owned);
  connection.SetOwnsIOHandler(true);
  connection.SetIOHandler(owned);  // the same handler again: kept
  EXPECT_EQ(connection.IOHandler(), owned);
  EXPECT_EQ(connection.ComponentCount(), 2);

  auto* next = new TFakeIOHandler(&connection);
  connection.SetIOHandler(next);  // frees the owned one
  EXPECT_EQ(connection.ComponentCount(), 2);
  EXPECT_FALSE(connection.OwnsIOHandler());

  connection.SetOwnsIOHandler(true);
  connection.Disconnect();
  EXPECT_EQ(connection.IOHandler(), nullptr);
  EXPECT_EQ(connection.ComponentCount(), 1);

  connection.SetIOHandler(handler);  // not owned: survives a disconnect, closed
  connection.Disconnect();
  EXPECT_EQ(connection.IOHandler(), handler);
  delete handler;  // a removed handler is forgotten
  EXPECT_EQ(connection.IOHandler(), nullptr);
}

TEST_F(Close, ResetForConnectDiscardsInputSilently) {
  RecordWork();
  connection.BeginWorkSpan(wmRead, 0);
  handler->QueueReceive("unread");
  connection.FillInputBuffer(true, -1, true);
  connection.ResetForConnect();
  EXPECT_EQ(connection.InBuffer().Size(), 0);
  EXPECT_FALSE(connection.ClosedMark());
  EXPECT_EQ(events, std::vector<std::string>{"begin:0:0"});
  connection.EndWorkSpan(wmRead);
}

}  // namespace
}  // namespace qor::test
