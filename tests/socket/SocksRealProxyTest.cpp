// The SOCKS dialogues against real proxies from the system's packages, each started on loopback for
// the test, carrying a real exchange to a loopback line server.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "qorclnt/socket/IdSocks.hpp"
#include "support/Ipv6Loopback.hpp"
#include "support/LoopbackServer.hpp"
#include "support/SocksProxies.hpp"

namespace qor {
namespace {

using namespace std::chrono_literals;
using test::LoopbackServer;
using test::ServerScript;

// A handler set up for the proxy on 127.0.0.1:APort.
struct ProxyClient {
  ProxyClient(TSocksVersion AVersion, uint16_t APort) {
    Handler.SocksInfo()->SetVersion(AVersion);
    Handler.SocksInfo()->SetHost("127.0.0.1");
    Handler.SocksInfo()->SetPort(APort);
  }
  void Connect(const std::string& AHost, uint16_t APort) {
    Handler.Open();
    Handler.ConnectTo(AHost, APort, "", 0, 0, 0, 5000);
  }
  TIdIOHandlerSocket Handler{nullptr};
};

// Receives until AExpected's length has arrived (or the peer closes).
std::string ReceiveText(TIdIOHandlerSocket& AHandler, size_t ALength) {
  std::string text;
  char buffer[64];
  while (text.size() < ALength && AHandler.WaitReadable(5000)) {
    const int32_t n =
        AHandler.ReceiveBuffer(buffer, static_cast<int32_t>(std::min(sizeof buffer, ALength - text.size())));
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

// Connects through the proxy to a line server named AHost and holds a short dialogue with it: the
// server speaks first (so no byte of the proxy's reply may be left in front of it), then the client.
void ExpectExchange(TSocksVersion AVersion, uint16_t AProxyPort, const std::string& AHost = "127.0.0.1",
                    const std::string& AUsername = "", const std::string& APassword = "") {
  LoopbackServer server(ServerScript().Send("hello\r\n").WaitFor("ping\r\n").Send("pong\r\n"));
  ProxyClient client(AVersion, AProxyPort);
  client.Handler.SocksInfo()->SetUsername(AUsername);
  client.Handler.SocksInfo()->SetPassword(APassword);
  if (!AUsername.empty()) client.Handler.SocksInfo()->SetAuthentication(saUsernamePassword);
  client.Connect(AHost, server.Port());
  EXPECT_EQ(ReceiveText(client.Handler, 7), "hello\r\n");
  EXPECT_EQ(client.Handler.SendBuffer("ping\r\n", 6), 6);
  EXPECT_EQ(ReceiveText(client.Handler, 6), "pong\r\n");
  EXPECT_EQ(server.Received(), "ping\r\n");
}

TEST(SocksRealProxy, MicroSocksSocks5WithPassword) {
  QOR_REQUIRE_PROGRAM(test::MicroSocksPath);
  test::MicroSocksProxy proxy("bob", "secret");
  ExpectExchange(svSocks5, proxy.Port(), "127.0.0.1", "bob", "secret");

  LoopbackServer unused;
  ProxyClient wrong(svSocks5, proxy.Port());
  wrong.Handler.SocksInfo()->SetAuthentication(saUsernamePassword);
  wrong.Handler.SocksInfo()->SetUsername("bob");
  wrong.Handler.SocksInfo()->SetPassword("wrong");
  EXPECT_THROW(wrong.Connect("127.0.0.1", unused.Port()), EIdSocksAuthError);
  ProxyClient anonymous(svSocks5, proxy.Port());
  EXPECT_THROW(anonymous.Connect("127.0.0.1", unused.Port()), EIdSocksAuthMethodError);
  EXPECT_EQ(unused.ConnectionCount(), 0u);
}

TEST(SocksRealProxy, MicroSocksReachedOverIpv6) {
  QOR_REQUIRE_IPV6();
  QOR_REQUIRE_PROGRAM(test::MicroSocksPath);
  test::MicroSocksProxy proxy("bob", "secret", true);
  ProxyClient client(svSocks5, proxy.Port());
  client.Handler.SocksInfo()->SetHost("[::1]");
  client.Handler.SocksInfo()->SetAuthentication(saUsernamePassword);
  client.Handler.SocksInfo()->SetUsername("bob");
  client.Handler.SocksInfo()->SetPassword("secret");

  // An IPv4 destination through the proxy reached over IPv6.
  LoopbackServer server(ServerScript().Send("hello\r\n").WaitFor("ping\r\n").Send("pong\r\n"));
  client.Connect("127.0.0.1", server.Port());
  EXPECT_EQ(client.Handler.Socket()->RemoteIP(), "::1");
  EXPECT_EQ(ReceiveText(client.Handler, 7), "hello\r\n");
}

TEST(SocksRealProxy, DanteSocks4AndSocks5) {
  QOR_REQUIRE_PROGRAM(test::DantedPath);
  test::DanteProxy proxy;
  ExpectExchange(svSocks4, proxy.Port(), "127.0.0.1", "someone");
  ExpectExchange(svSocks5, proxy.Port());
}

TEST(SocksRealProxy, DanteOverIpv6) {
  QOR_REQUIRE_IPV6();
  QOR_REQUIRE_PROGRAM(test::DantedPath);
  test::DanteProxy proxy(true);
  LoopbackServer server(ServerScript().Send("hello\r\n"));
  for (const TSocksVersion version : {svSocks4, svSocks5}) {
    ProxyClient client(version, proxy.Port());
    client.Handler.SocksInfo()->SetHost("::1");
    client.Connect("127.0.0.1", server.Port());
    EXPECT_EQ(ReceiveText(client.Handler, 7), "hello\r\n") << version;
  }
  // SOCKS 4 cannot carry an IPv6 destination; SOCKS 5 can.
  const test::UniqueFd listener = test::BoundSocket6(0, 1);
  ProxyClient socks4(svSocks4, proxy.Port());
  socks4.Handler.SocksInfo()->SetHost("::1");
  EXPECT_THROW(socks4.Connect("::1", test::BoundPort(listener)), EIdSocks4IPv6Destination);
  ProxyClient socks5(svSocks5, proxy.Port());
  socks5.Handler.SocksInfo()->SetHost("::1");
  socks5.Connect("::1", test::BoundPort(listener));
  const test::UniqueFd accepted(::accept(listener.Get(), nullptr, nullptr));
  ASSERT_TRUE(accepted.Valid());
  ASSERT_EQ(::write(accepted.Get(), "six\n", 4), 4);
  EXPECT_EQ(ReceiveText(socks5.Handler, 4), "six\n");
}

TEST(SocksRealProxy, OpenSshSocks4AByHostName) {
  QOR_REQUIRE_PROGRAM(test::SshdPath);
  QOR_REQUIRE_PROGRAM(test::SshPath);
  test::SshSocksProxy proxy;
  ExpectExchange(svSocks4A, proxy.Port(), "localhost");
}

}  // namespace
}  // namespace qor
