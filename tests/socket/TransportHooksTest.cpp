// Transports built on the socket handler's hooks: a connection reaches its handler only through them,
// SOCKS talks to the proxy below them, a transport that holds bytes is never left waiting on its
// socket, and the connect's time-out bounds a proxy that stays silent.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "qorclnt/client/IdTCPClient.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "qorclnt/socket/IdSocks.hpp"
#include "support/CountingAntiFreeze.hpp"
#include "support/LoopbackServer.hpp"
#include "support/Watchdog.hpp"

namespace qor {
namespace {

using namespace std::string_literals;
using namespace std::chrono_literals;
using std::chrono::steady_clock;
using test::LoopbackServer;
using test::ServerScript;

long MsSince(steady_clock::time_point AStart) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - AStart).count());
}

// A transport that overrides only the hooks, passing each call on, and counts the calls of the hooks
// and of the plain socket under them.
class TCountingTransport : public TIdIOHandlerSocket {
 public:
  using TIdIOHandlerSocket::TIdIOHandlerSocket;

  int Waits = 0;
  int Receives = 0;
  int Sends = 0;
  int SocketReceives = 0;
  int SocketSends = 0;
  int Connects = 0;
  int32_t TimeLeft = 0;

  TIdIOResult SocketReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) override {
    ++SocketReceives;
    return TIdIOHandlerSocket::SocketReceive(ABuffer, ALength, ATimeout);
  }
  TIdIOResult SocketSend(const void* ABuffer, int32_t ALength) override {
    ++SocketSends;
    return TIdIOHandlerSocket::SocketSend(ABuffer, ALength);
  }

 protected:
  TIdIOResult RawWaitReadable(int32_t ATimeout) override {
    ++Waits;
    return TIdIOHandlerSocket::RawWaitReadable(ATimeout);
  }
  TIdIOResult RawReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) override {
    ++Receives;
    return TIdIOHandlerSocket::RawReceive(ABuffer, ALength, ATimeout);
  }
  TIdIOResult RawSend(const void* ABuffer, int32_t ALength) override {
    ++Sends;
    return TIdIOHandlerSocket::RawSend(ABuffer, ALength);
  }
  void AfterConnect(int32_t ATimeLeft) override {
    ++Connects;
    TimeLeft = ATimeLeft;
  }
};

constexpr int32_t DestinationPort = 0x1234;
const std::string Socks5Request = "\x05\x01\x00\x03\x09"s + "127.0.0.1" + "\x12\x34"s;
const std::string Socks5Granted = "\x05\x00\x00\x01\x7f\x00\x00\x01\x12\x34"s;

TEST(TransportHooks, EveryReadWriteAndWaitOfAConnectionGoesThroughTheHooksAndSocksBelowThem) {
  LoopbackServer proxy(ServerScript()
                           .WaitForCount(3)
                           .Send("\x05\x00"s)
                           .WaitForCount(Socks5Request.size())
                           .Send(Socks5Granted)
                           .WaitFor("HELLO\r\n")
                           .Send("WORLD\r\nMORE\r\n")
                           .WaitFor("BYE\r\n")
                           .Send("LAST\r\n"));
  TIdTCPClient client(nullptr);
  auto* transport = new TCountingTransport(&client);  // freed by its owner
  transport->SocksInfo()->SetVersion(svSocks5);
  transport->SocksInfo()->SetHost(LoopbackServer::Host);
  transport->SocksInfo()->SetPort(proxy.Port());
  client.SetIOHandler(transport);
  client.SetHost("127.0.0.1");
  client.SetPort(DestinationPort);
  client.SetReadTimeout(2000);

  client.Connect(2000);
  // The dialogue with the proxy used the plain socket only, and the transport started after it.
  EXPECT_EQ(proxy.Received(), "\x05\x01\x00"s + Socks5Request);
  EXPECT_EQ(transport->Waits + transport->Receives + transport->Sends, 0);
  EXPECT_EQ(transport->SocketSends, 2);
  const int socksReceives = transport->SocketReceives;
  EXPECT_GE(socksReceives, 3);
  EXPECT_EQ(transport->Connects, 1);
  EXPECT_GT(transport->TimeLeft, 0);
  EXPECT_LE(transport->TimeLeft, 2000);

  client.WriteLn("HELLO");
  EXPECT_EQ(client.ReadLn(), "WORLD");
  EXPECT_EQ(client.ReadLn(), "MORE");
  EXPECT_EQ(transport->Sends, 1);
  EXPECT_GE(transport->Receives, 1);

  // With idle processing the wait comes first, through its hook too.
  test::CountingAntiFreeze antiFreeze(nullptr);
  client.WriteLn("BYE");
  EXPECT_EQ(client.ReadLn(), "LAST");
  EXPECT_GE(transport->Waits, 1);
  EXPECT_EQ(transport->Sends, 2);
  // Every socket call after the dialogue came from a hook.
  EXPECT_EQ(transport->SocketSends, 2 + transport->Sends);
  EXPECT_EQ(transport->SocketReceives, socksReceives + transport->Receives);
  EXPECT_EQ(proxy.Received(), "\x05\x01\x00"s + Socks5Request + "HELLO\r\nBYE\r\n");
}

// A transport that reads whatever the socket has into a store of its own and hands it out three
// bytes at a time, as a transport that decrypts whole records does. It counts every time it was
// asked to wait, or given time to wait, while it held bytes.
class THoldingTransport : public TIdIOHandlerSocket {
 public:
  using TIdIOHandlerSocket::TIdIOHandlerSocket;
  int WaitsWhileHolding = 0;

 protected:
  int32_t BytesHeld() override { return static_cast<int32_t>(FHeld.size()); }
  TIdIOResult RawWaitReadable(int32_t ATimeout) override {
    if (!FHeld.empty()) ++WaitsWhileHolding;
    return TIdIOHandlerSocket::RawWaitReadable(ATimeout);
  }
  TIdIOResult RawReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) override {
    if (FHeld.empty()) {
      char record[4096];
      const TIdIOResult result = SocketReceive(record, sizeof record, ATimeout);
      if (result.Count <= 0) return result;
      FHeld.assign(record, static_cast<size_t>(result.Count));
    } else if (ATimeout != 0) {
      ++WaitsWhileHolding;
    }
    const size_t n = std::min<size_t>({FHeld.size(), 3, static_cast<size_t>(ALength)});
    FHeld.copy(static_cast<char*>(ABuffer), n);
    FHeld.erase(0, n);
    return TIdIOResult::Moved(static_cast<int32_t>(n));
  }

 private:
  std::string FHeld;
};

TEST(TransportHooks, ATransportThatHoldsBytesIsNeverLeftWaitingOnItsSocket) {
  test::Watchdog watchdog(60s, "TransportHooks");
  // Three lines at once, then silence: a wait on the socket for a held line would run out.
  LoopbackServer server(ServerScript().WaitFor("GO\r\n").Send("ONE\r\nTWO\r\nTHREE\r\n"));
  for (const bool idle : {false, true}) {
    SCOPED_TRACE(idle ? "with idle processing" : "without idle processing");
    std::unique_ptr<test::CountingAntiFreeze> antiFreeze;
    if (idle) antiFreeze = std::make_unique<test::CountingAntiFreeze>(nullptr);
    TIdTCPClient client(nullptr);
    auto* transport = new THoldingTransport(&client);
    client.SetIOHandler(transport);
    client.SetHost(LoopbackServer::Host);
    client.SetPort(server.Port());
    client.SetReadTimeout(1000);
    client.Connect(-1);
    client.WriteLn("GO");
    auto start = steady_clock::now();
    EXPECT_EQ(client.ReadLn(), "ONE");
    EXPECT_EQ(client.ReadLn(), "TWO");
    EXPECT_EQ(client.ReadLn(), "THREE");
    EXPECT_LT(MsSince(start), 900);
    EXPECT_EQ(transport->WaitsWhileHolding, 0);
    // Once nothing is held, the wait goes to the socket and runs its time.
    start = steady_clock::now();
    EXPECT_THROW(client.ReadLn(), EIdReadTimeout);
    EXPECT_GE(MsSince(start), 900);
    EXPECT_LT(MsSince(start), 5000);
  }
}

// Connects a socket handler through a proxy that accepts and never answers, within ATimeout ms:
// the error's class and message; the milliseconds it took go to VTook.
std::string ConnectThroughSilentProxy(TSocksVersion AVersion, long& VTook, int32_t ATimeout = 1000) {
  const LoopbackServer proxy;  // accepts, records, says nothing
  TIdIOHandlerSocket handler(nullptr);
  handler.SocksInfo()->SetVersion(AVersion);
  handler.SocksInfo()->SetHost(LoopbackServer::Host);
  handler.SocksInfo()->SetPort(proxy.Port());
  handler.Open();
  const auto start = steady_clock::now();
  std::string outcome = "nothing raised";
  try {
    handler.ConnectTo("127.0.0.1", DestinationPort, "", 0, 0, 0, ATimeout);
  } catch (const Exception& error) {
    outcome = error.ClassName() + ": "s + error.Message();
  }
  VTook = MsSince(start);
  return outcome;
}

TEST(TransportHooks, TheConnectTimeOutEndsTheDialogueWithASilentProxy) {
  test::Watchdog watchdog(60s, "TransportHooks");
  long took = 0;
  EXPECT_EQ(ConnectThroughSilentProxy(svSocks5, took),
            "EIdSocksServerRespondError: Socks server did not respond.");
  std::printf("SOCKS 5, silent proxy, Connect(1000): %ld ms\n", took);
  EXPECT_GE(took, 900);
  EXPECT_LT(took, 5000);
  EXPECT_EQ(ConnectThroughSilentProxy(svSocks4, took), "EIdReadTimeout: Read Timeout");
  std::printf("SOCKS 4, silent proxy, Connect(1000): %ld ms\n", took);
  EXPECT_GE(took, 900);
  EXPECT_LT(took, 5000);
}

// A time-out of a step or less is spent whole on the TCP connect; the dialogue then still gets a
// step of its own (here the whole 100 ms), not a wait without end.
TEST(TransportHooks, AShortConnectTimeOutStillBoundsTheDialogueWithASilentProxy) {
  test::Watchdog watchdog(60s, "TransportHooks");
  long took = 0;
  EXPECT_EQ(ConnectThroughSilentProxy(svSocks4, took, 100), "EIdReadTimeout: Read Timeout");
  EXPECT_GE(took, 180);
  EXPECT_LT(took, 5000);
}

}  // namespace
}  // namespace qor
