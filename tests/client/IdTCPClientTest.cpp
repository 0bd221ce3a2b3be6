#include "qorclnt/client/qorclss.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "support/FreePort.hpp"
#include "support/LoopbackServer.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;

TEST(TCPClient, TheProgramsClientStartsWithItsDefaults) {
  TIdRUROvoduv client(nullptr);
  EXPECT_EQ(client.Host(), "127.0.0.1");
  EXPECT_EQ(client.Port(), 15937);
  EXPECT_EQ(client.BoundIP(), "");
  EXPECT_EQ(client.BoundPort(), 0);
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_FALSE(client.Connected());
  // Any value is stored; it is only used at the next connect.
  client.SetPort(65536);
  client.SetHost("");
  EXPECT_EQ(client.Port(), 65536);
  EXPECT_EQ(client.Host(), "");
}

TEST(TCPClient, AFailedConnectKeepsItsHandlerForTheNextAttempt) {
  TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(RefusedPort());
  EXPECT_THROW(client.Connect(1000), EIdConnectException);
  TIdIOHandler* const handler = client.IOHandler();
  ASSERT_NE(handler, nullptr);
  EXPECT_TRUE(client.OwnsIOHandler());
  EXPECT_FALSE(client.Connected());
  try {
    client.Connect(-1);
    FAIL() << "connected to a refused port";
  } catch (const EIdSocketError& error) {
    EXPECT_EQ(error.ErrorCode(), 111);
  }
  EXPECT_EQ(client.IOHandler(), handler);
}

TEST(TCPClient, ConnectAnnouncesItselfOnceAndDisconnectFreesTheHandlerItMade) {
  LoopbackServer server;
  TIdTCPClient client(nullptr);
  client.SetHost("LocalHost");
  client.SetPort(server.Port());
  std::vector<std::string> events;
  client.OnStatus = [&](TComponent*, TIdStatus, const std::string& AText) { events.push_back(AText); };
  client.OnConnected = [&](TComponent* ASender) {
    EXPECT_EQ(ASender, &client);
    events.push_back("OnConnected");
  };
  client.Connect(1000);
  EXPECT_TRUE(client.Connected());
  // The handler made by Connect carries the client's listener.
  EXPECT_EQ(events, (std::vector<std::string>{"Resolving hostname LocalHost.", "Connecting to 127.0.0.1.",
                                              "Connected.", "OnConnected"}));

  try {
    client.Connect(1000);
    FAIL() << "a second connect went through";
  } catch (const EIdAlreadyConnected& error) {
    EXPECT_EQ(error.Message(), "Already connected.");
  }
  EXPECT_TRUE(client.Connected());

  client.Disconnect();
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_FALSE(client.OwnsIOHandler());
  client.Connect(1000);
  EXPECT_NE(client.IOHandler(), nullptr);
  EXPECT_TRUE(server.WaitForConnections(2, 5s));
}

TEST(TCPClient, AHandlerSuppliedByTheUserIsUsedAndNeverFreed) {
  LoopbackServer server;
  TIdIOHandlerSocket handler(nullptr);
  {
    TIdTCPClient client(nullptr);
    client.SetHost("127.0.0.1");
    client.SetPort(server.Port());
    client.SetIOHandler(&handler);
    client.Connect(1000);
    EXPECT_EQ(client.IOHandler(), &handler);
    EXPECT_TRUE(handler.IsConnected());
    client.Disconnect();
    EXPECT_EQ(client.IOHandler(), &handler);
    EXPECT_FALSE(handler.IsConnected());
  }
  // The client is gone and the handler lives on; it can still be used.
  handler.Open();
}

TEST(TCPClient, ConnectAndReadAllReturnsEverythingUntilTheClose) {
  LoopbackServer server(ServerScript().Send("first\r\nsecond").Close());
  TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  EXPECT_EQ(client.ConnectAndReadAll(), "first\r\nsecond");
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.IOHandler(), nullptr);
}

}  // namespace
}  // namespace qor::test
