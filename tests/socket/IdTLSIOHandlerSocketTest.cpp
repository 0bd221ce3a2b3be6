// The TLS handler against real peers on loopback: openssl s_server for verification, versions and
// client certificates, the scripted loopback server for peers that stall or speak plaintext.

#include "qorclnt/socket/IdTLSIOHandlerSocket.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "qorclnt/errors/IdException.hpp"
#include "support/Ipv6Loopback.hpp"
#include "support/LoopbackServer.hpp"
#include "support/MessageOf.hpp"
#include "support/OpenSSLServer.hpp"
#include "support/ProxyDaemon.hpp"
#include "support/TestPki.hpp"

namespace qor {
namespace {

using namespace std::chrono_literals;
using test::MessageOf;
using test::OpenSSLServer;
using test::TestPki;
using Clock = std::chrono::steady_clock;

// A handler that trusts the test CA.
struct TLSClient {
  TLSClient() { Handler.SetCAFile(TestPki::Get().CAFile); }
  void Connect(const std::string& AHost, uint16_t APort, int32_t ATimeout = 5000) {
    Handler.Open();
    Handler.ConnectTo(AHost, APort, "", 0, 0, 0, ATimeout);
  }
  // Receives until ALength bytes have arrived, the peer closes or five seconds pass.
  std::string Receive(size_t ALength) {
    std::string text;
    char buffer[256];
    while (text.size() < ALength) {
      const TIdIOResult result = Handler.Receive(buffer, sizeof buffer, 5000);
      if (result.Count <= 0) break;
      text.append(buffer, static_cast<size_t>(result.Count));
    }
    return text;
  }
  TIdTLSIOHandlerSocket Handler{nullptr};
};

TEST(TLSHandler, VerifiedConnectCarriesDataBothWays) {
  QOR_REQUIRE_PROGRAM(test::OpenSSLPath);
  OpenSSLServer server;
  TLSClient client;
  client.Connect("localhost", server.Port());
  ASSERT_TRUE(client.Handler.TLSActive());
  EXPECT_EQ(client.Handler.TLSVersion(), "TLSv1.3");
  EXPECT_FALSE(client.Handler.TLSCipher().empty());
  EXPECT_EQ(client.Handler.VerifiedName(), "localhost");

  EXPECT_EQ(client.Handler.SendBuffer("hello over tls\r\n", 16), 16);
  EXPECT_TRUE(server.Process().WaitForStdout("hello over tls", 5s));
  // Nothing has come yet: a short wait runs out, and the connection stays usable.
  EXPECT_FALSE(client.Handler.WaitReadable(100));
  server.Process().Write("a line from the server\n");
  EXPECT_EQ(client.Receive(23), "a line from the server\n");
}

TEST(TLSHandler, VerificationFailuresNameTheirReasonAndCloseTheSocket) {
  QOR_REQUIRE_PROGRAM(test::OpenSSLPath);
  const TestPki& pki = TestPki::Get();
  struct Case {
    std::string Cert;
    std::string Host;
    std::string Message;
  };
  const Case cases[] = {
      {pki.WrongNameCert, "localhost", "certificate verify failed: hostname mismatch"},
      {pki.WrongNameCert, "127.0.0.1", "certificate verify failed: IP address mismatch"},
      {pki.UnknownCACert, "localhost", "certificate verify failed: unable to get local issuer certificate"},
      {pki.ExpiredCert, "localhost", "certificate verify failed: certificate has expired"},
  };
  for (const Case& c : cases) {
    OpenSSLServer server({}, c.Cert);
    TLSClient client;
    EXPECT_EQ(MessageOf<EIdTLSVerifyError>([&] { client.Connect(c.Host, server.Port()); }), c.Message)
        << c.Cert;
    EXPECT_FALSE(client.Handler.IsConnected());
    EXPECT_FALSE(client.Handler.TLSActive());
  }
}

TEST(TLSHandler, AnIPAddressIsCheckedAgainstTheCertificatesAddresses) {
  QOR_REQUIRE_PROGRAM(test::OpenSSLPath);
  OpenSSLServer server;
  TLSClient client;
  client.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(client.Handler.VerifiedName(), "127.0.0.1");
}

// An IPv6 literal, with brackets or without, is checked as the address alone against the
// certificate's IPv6 address.
TEST(TLSHandler, AnIPv6AddressIsCheckedAgainstTheCertificatesAddresses) {
  QOR_REQUIRE_PROGRAM(test::OpenSSLPath);
  QOR_REQUIRE_IPV6();
  OpenSSLServer server({}, "", true);
  for (const std::string host : {"::1", "[::1]"}) {
    TLSClient client;
    client.Connect(host, server.Port());
    EXPECT_EQ(client.Handler.VerifiedName(), "::1") << host;
  }
}

TEST(TLSHandler, WithoutVerificationAnyCertificateIsTaken) {
  QOR_REQUIRE_PROGRAM(test::OpenSSLPath);
  OpenSSLServer server({}, TestPki::Get().UnknownCACert);
  TLSClient client;
  client.Handler.SetVerifyPeer(false);
  client.Handler.SetCAFile("");
  client.Connect("localhost", server.Port());
  EXPECT_TRUE(client.Handler.TLSActive());
  EXPECT_EQ(client.Handler.VerifiedName(), "");
}

TEST(TLSHandler, ProtocolVersionsAndTheMinimum) {
  QOR_REQUIRE_PROGRAM(test::OpenSSLPath);
  {
    OpenSSLServer server({"-tls1_2"});
    TLSClient client;
    client.Connect("localhost", server.Port());
    EXPECT_EQ(client.Handler.TLSVersion(), "TLSv1.2");
    client.Handler.Close();  // s_server serves one connection at a time
    // A stricter minimum refuses the same server.
    TLSClient strict;
    strict.Handler.SetMinVersion(tvTLSv1_3);
    EXPECT_EQ(MessageOf<EIdTLSError>([&] { strict.Connect("localhost", server.Port()); }),
              "TLS handshake failed: tlsv1 alert protocol version");
    EXPECT_FALSE(strict.Handler.IsConnected());
  }
  {
    // A server that speaks nothing newer than TLS 1.1 is below the default minimum.
    OpenSSLServer server({"-tls1_1", "-cipher", "DEFAULT:@SECLEVEL=0"});
    TLSClient client;
    EXPECT_EQ(MessageOf<EIdTLSError>([&] { client.Connect("localhost", server.Port()); }),
              "TLS handshake failed: tlsv1 alert protocol version");
  }
}

TEST(TLSHandler, ClientCertificateDemandedByTheServer) {
  QOR_REQUIRE_PROGRAM(test::OpenSSLPath);
  const TestPki& pki = TestPki::Get();
  OpenSSLServer server({"-Verify", "1", "-CAfile", pki.CAFile});
  TLSClient with;
  with.Handler.SetCertFile(pki.ClientCert);
  with.Handler.SetKeyFile(pki.ClientKey);
  with.Connect("localhost", server.Port());
  EXPECT_EQ(with.Handler.SendBuffer("with cert\n", 10), 10);
  EXPECT_TRUE(server.Process().WaitForStdout("with cert", 5s));
  with.Handler.Close();  // s_server serves one connection at a time

  // Under TLS 1.3 the refusal is an alert after the client's handshake: the first read shows it.
  TLSClient without;
  without.Connect("localhost", server.Port());
  char buffer[16];
  const std::string message = MessageOf<EIdTLSError>([&] { without.Handler.Receive(buffer, 16, 5000); });
  EXPECT_NE(message.find("alert certificate required"), std::string::npos) << message;
  EXPECT_FALSE(without.Handler.IsConnected());
}

TEST(TLSHandler, SettingsThatCannotWorkFailBeforeAnyConnect) {
  const TestPki& pki = TestPki::Get();
  test::LoopbackServer server;
  const auto connectWith = [&](auto ASetUp) {
    TLSClient client;
    ASetUp(client.Handler);
    return MessageOf<EIdTLSSetupError>([&] { client.Connect("localhost", server.Port()); });
  };
  EXPECT_EQ(connectWith([](TIdTLSIOHandlerSocket& h) { h.SetCAFile("/nonexistent/ca.pem"); }),
            "Cannot read CA file \"/nonexistent/ca.pem\".");
  EXPECT_EQ(connectWith([&](TIdTLSIOHandlerSocket& h) { h.SetCAFile(pki.EmptyFile); }),
            "No certificate in CA file \"" + pki.EmptyFile + "\".");
  EXPECT_EQ(connectWith([&](TIdTLSIOHandlerSocket& h) {
              h.SetCertFile(pki.ClientCert);
              h.SetKeyFile(pki.OtherKey);
            }),
            "Key file \"" + pki.OtherKey + "\" does not match certificate file \"" + pki.ClientCert + "\".");
  EXPECT_EQ(server.ConnectionCount(), 0u);
}

TEST(TLSHandler, AStalledOrPlaintextPeerEndsTheConnectWithinItsTime) {
  test::LoopbackServer stalled(test::ServerScript().Silence(10s));
  TLSClient client;
  const auto start = Clock::now();
  EXPECT_THROW(client.Connect("127.0.0.1", stalled.Port(), 1000), EIdTLSHandshakeTimeout);
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(spent, 900);
  EXPECT_LT(spent, 5000);
  EXPECT_FALSE(client.Handler.IsConnected());

  test::LoopbackServer plaintext(test::ServerScript().Send("220 plain service ready\r\n").Silence(10s));
  EXPECT_THROW(client.Connect("127.0.0.1", plaintext.Port(), 5000), EIdTLSError);
  EXPECT_FALSE(client.Handler.IsConnected());
}

TEST(TLSHandler, APlainHandlerCannotStartTLS) {
  test::LoopbackServer server;
  TIdIOHandlerSocket plain(nullptr);
  plain.Open();
  plain.ConnectTo("127.0.0.1", server.Port(), "", 0, 0, 0, 5000);
  EXPECT_EQ(MessageOf<EIdTLSStartRefused>([&] { plain.StartTLS(); }),
            "TLS start refused: the I/O handler cannot start TLS.");
}

}  // namespace
}  // namespace qor
