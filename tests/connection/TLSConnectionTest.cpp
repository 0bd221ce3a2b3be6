// A connection over the TLS handler against the in-process TLS test server: line reading, time-outs,
// the ends of a stream, STARTTLS, and TLS through a real SOCKS proxy.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "qorclnt/connection/IdTCPConnection.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdSocks.hpp"
#include "qorclnt/socket/IdTLSIOHandlerSocket.hpp"
#include "support/CountingAntiFreeze.hpp"
#include "support/LoopbackServer.hpp"
#include "support/ProxyDaemon.hpp"
#include "support/SocksProxies.hpp"
#include "support/TestPki.hpp"
#include "support/TlsServer.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point AStart) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - AStart).count();
}

class TLSConnection : public ::testing::Test {
 protected:
  TLSConnection() {
    handler = new TIdTLSIOHandlerSocket(&connection);
    handler->SetCAFile(TestPki::Get().CAFile);
    connection.SetIOHandler(handler);
    connection.SetOwnsIOHandler(true);
    connection.SetReadTimeout(5000);
  }
  void Connect(const std::string& AHost, uint16_t APort) {
    handler->Open();
    connection.ResetForConnect();
    handler->ConnectTo(AHost, APort, "", 0, 0, 0, 5000);
    ASSERT_TRUE(connection.Connected());
  }

  TIdTCPConnection connection{nullptr};
  TIdTLSIOHandlerSocket* handler;
};

TEST_F(TLSConnection, AHundredThousandLineReplyArrivesExactly) {
  constexpr int Lines = 100000;
  TlsServer server([](TlsPeer& APeer) {
    if (!APeer.Accept()) return;
    std::string chunk;
    for (int i = 0; i < Lines; ++i) {
      chunk += "line " + std::to_string(i) + " of the reply\r\n";
      if (chunk.size() > 60000) {
        APeer.Send(chunk);
        chunk.clear();
      }
    }
    APeer.Send(chunk + "\r\n");
    APeer.ReadLine();  // until the client closes
  });
  Connect("localhost", server.Port());
  int mismatches = 0;
  for (int i = 0; i < Lines; ++i) {
    if (connection.ReadLn() != "line " + std::to_string(i) + " of the reply") ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(connection.ReadLn(), "");
  EXPECT_EQ(connection.InBuffer().Size(), 0);
}

TEST_F(TLSConnection, ARecordSplitAcrossReceivesWithinAndBeyondTheReadTimeout) {
  TlsServer server([](TlsPeer& APeer) {
    if (!APeer.Accept()) return;
    APeer.SendSplit("first line, one record in two pieces\r\n", 300ms);
    APeer.SendSplit("second line, its second piece late\r\n", 1500ms);
    APeer.ReadLine();
  });
  Connect("localhost", server.Port());
  connection.SetReadTimeout(1000);
  EXPECT_EQ(connection.ReadLn(), "first line, one record in two pieces");
  // Half a record is no data: the wait runs out, and the connection stays usable.
  const auto start = Clock::now();
  EXPECT_THROW(connection.ReadLn(), EIdReadTimeout);
  EXPECT_GE(MillisecondsSince(start), 900);
  EXPECT_LT(MillisecondsSince(start), 5000);
  EXPECT_TRUE(connection.Connected());
  EXPECT_EQ(connection.ReadLn(), "second line, its second piece late");
}

TEST_F(TLSConnection, WithIdleProcessingTheWaitKeepsItsIdleTurnsAndOutlastsATicket) {
  TlsServer server([](TlsPeer& APeer) {
    if (!APeer.Accept()) return;  // under TLS 1.3 the server sends session tickets after this
    std::this_thread::sleep_for(600ms);
    APeer.Send("after a while\r\n");
    APeer.ReadLine();
  });
  Connect("localhost", server.Port());
  CountingAntiFreeze antiFreeze(nullptr);
  antiFreeze.IdleTimeOut = 100;
  connection.SetReadTimeout(3000);
  EXPECT_EQ(connection.ReadLn(), "after a while");
  EXPECT_GE(antiFreeze.Turns, 4);

  connection.SetReadTimeout(300);
  const auto start = Clock::now();
  EXPECT_THROW(connection.ReadLn(), EIdReadTimeout);
  EXPECT_GE(MillisecondsSince(start), 270);
  EXPECT_LT(MillisecondsSince(start), 5000);
}

TEST_F(TLSConnection, AnAbortEndsABlockedTLSReadOrHandshakeAsAnAbort) {
  TlsServer server([](TlsPeer& APeer) {
    if (APeer.Accept()) APeer.ReadLine();  // then silent until the client goes
  });
  Connect("localhost", server.Port());
  const auto abortSoon = [this] {
    return std::thread([this] {
      std::this_thread::sleep_for(300ms);
      connection.Abort();
    });
  };
  std::thread aborter = abortSoon();
  EXPECT_THROW(connection.ReadLn("\n", IdTimeoutInfinite), EIdAborted);
  aborter.join();

  // A peer that accepts and never answers the handshake.
  LoopbackServer stalled(ServerScript().Silence(10s));
  handler->Open();
  aborter = abortSoon();
  EXPECT_THROW(handler->ConnectTo("127.0.0.1", stalled.Port(), "", 0, 0, 0, 10000), EIdAborted);
  aborter.join();
}

TEST_F(TLSConnection, ATCPCloseWithoutCloseNotifyIsATruncationNotAGracefulClose) {
  TlsServer server([](TlsPeer& APeer) {
    if (!APeer.Accept()) return;
    APeer.Send("complete line\r\npartial li");
  });
  Connect("localhost", server.Port());
  EXPECT_EQ(connection.ReadLn(), "complete line");
  EXPECT_THROW(connection.ReadLn(), EIdTLSTruncated);
  EXPECT_FALSE(connection.Connected());
  // The partial line stays unread: nothing shows it as a line.
  EXPECT_EQ(connection.InBuffer().Size(), 10);
}

TEST_F(TLSConnection, CloseNotifyIsTheGracefulClose) {
  TlsServer server([](TlsPeer& APeer) {
    if (!APeer.Accept()) return;
    APeer.Send("last line\r\n");
    APeer.CloseNotify();
  });
  Connect("localhost", server.Port());
  EXPECT_EQ(connection.ReadLn(), "last line");
  EXPECT_THROW(connection.ReadLn(), EIdConnClosedGracefully);
  EXPECT_FALSE(connection.Connected());
}

// A STARTTLS dialogue: a plaintext greeting, the command, the go-ahead (with AAfterGoAhead right
// behind it in the same send), then TLS.
TlsServer::TScript StartTLSScript(std::string AAfterGoAhead) {
  return [AAfterGoAhead](TlsPeer& APeer) {
    APeer.SendPlain("220 plaintext greeting\r\n");
    if (APeer.ReadPlainLine() != "STARTTLS\r\n") return;
    APeer.SendPlain("220 go ahead\r\n" + AAfterGoAhead);
    if (!APeer.Accept()) return;
    const std::string line = APeer.ReadLine();
    std::this_thread::sleep_for(500ms);  // longer than the client's plaintext read time-out
    APeer.Send("250 secret received: " + line);
    APeer.ReadLine();
  };
}

TEST_F(TLSConnection, StartTLSUpgradesALiveConnection) {
  TlsServer server(StartTLSScript(""));
  handler->SetPassThrough(true);
  Connect("localhost", server.Port());
  // The plaintext reads leave their time-out on the socket; TLS must not take it for its own.
  connection.SetReadTimeout(200);
  EXPECT_EQ(connection.ReadLn(), "220 plaintext greeting");
  connection.WriteLn("STARTTLS");
  EXPECT_EQ(connection.ReadLn(), "220 go ahead");
  EXPECT_FALSE(handler->TLSActive());
  connection.StartTLS();
  EXPECT_TRUE(handler->TLSActive());
  EXPECT_EQ(handler->VerifiedName(), "localhost");
  connection.WriteLn("SECRET");
  EXPECT_EQ(connection.ReadLn("\n", IdTimeoutInfinite), "250 secret received: SECRET");
  EXPECT_THROW(connection.StartTLS(), EIdTLSStartRefused);  // already active
}

TEST_F(TLSConnection, StartTLSRefusesPlaintextPipelinedWithTheGoAhead) {
  TlsServer server(StartTLSScript("250 INJECTED BEFORE TLS\r\n"));
  handler->SetPassThrough(true);
  Connect("localhost", server.Port());
  EXPECT_EQ(connection.ReadLn(), "220 plaintext greeting");
  connection.WriteLn("STARTTLS");
  EXPECT_EQ(connection.ReadLn(), "220 go ahead");
  // Both lines came in one receive; the second is still unread.
  ASSERT_GT(connection.InBuffer().Size(), 0);
  EXPECT_THROW(connection.StartTLS(), EIdTLSStartRefused);
  EXPECT_FALSE(connection.Connected());
  EXPECT_FALSE(handler->TLSActive());
}

TEST_F(TLSConnection, ServerNameIndicationGoesOutForNamesOnly) {
  TlsServer server([](TlsPeer& APeer) { APeer.Accept(); });
  Connect("localhost", server.Port());
  connection.Disconnect();
  handler = new TIdTLSIOHandlerSocket(&connection);
  handler->SetCAFile(TestPki::Get().CAFile);
  connection.SetIOHandler(handler);
  Connect("127.0.0.1", server.Port());
  connection.Disconnect();
  server.Stop();
  EXPECT_EQ(server.ServerNames(), (std::vector<std::string>{"localhost", ""}));
}

// Connects through the SOCKS proxy at 127.0.0.1:APort to a TLS server known as localhost: the name
// verified is the destination's, never the proxy's.
void ExpectThroughProxy(TIdTCPConnection& AConnection, TIdTLSIOHandlerSocket& AHandler,
                        TSocksVersion AVersion, uint16_t APort, const std::string& AUsername = "") {
  TlsServer server([](TlsPeer& APeer) {
    if (!APeer.Accept()) return;
    APeer.Send("hello through the proxy\r\n");
    APeer.ReadLine();
  });
  TIdSocksInfo* socks = AHandler.SocksInfo();
  socks->SetVersion(AVersion);
  socks->SetHost("127.0.0.1");
  socks->SetPort(APort);
  socks->SetAuthentication(AUsername.empty() ? saNoAuthentication : saUsernamePassword);
  socks->SetUsername(AUsername);
  socks->SetPassword("secret");
  AHandler.SetServerName("localhost");
  AHandler.Open();
  AConnection.ResetForConnect();
  AHandler.ConnectTo("127.0.0.1", server.Port(), "", 0, 0, 0, 5000);
  EXPECT_EQ(AHandler.VerifiedName(), "localhost");
  EXPECT_EQ(AConnection.ReadLn(), "hello through the proxy");
  AConnection.Disconnect();
}

TEST_F(TLSConnection, ThroughMicroSocksTheDestinationNameIsVerified) {
  QOR_REQUIRE_PROGRAM(MicroSocksPath);
  MicroSocksProxy proxy("bob", "secret");
  ExpectThroughProxy(connection, *handler, svSocks5, proxy.Port(), "bob");
}

TEST_F(TLSConnection, ThroughDanteTheDestinationNameIsVerified) {
  QOR_REQUIRE_PROGRAM(DantedPath);
  DanteProxy proxy;
  ExpectThroughProxy(connection, *handler, svSocks5, proxy.Port());
}

}  // namespace
}  // namespace qor::test
