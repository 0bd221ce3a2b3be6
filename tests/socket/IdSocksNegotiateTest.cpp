// The SOCKS dialogues against a scripted proxy on loopback that records what it receives.

#include <gtest/gtest.h>

#include <string>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "qorclnt/socket/IdSocks.hpp"
#include "support/LoopbackServer.hpp"
#include "support/MessageOf.hpp"

namespace qor {
namespace {

using namespace std::string_literals;
using namespace std::chrono_literals;
using test::LoopbackServer;
using test::MessageOf;
using test::ServerScript;

constexpr int32_t DestinationPort = 0x1234;
const std::string PortBytes = "\x12\x34";
const std::string Socks4Granted = "\x00\x5a\x12\x34\x7f\x00\x00\x01"s;
const std::string Socks5Connect127 =
    "\x05\x01\x00\x03\x09"
    "127.0.0.1"s +
    PortBytes;

// A SOCKS 5 connect reply with result ACode, address type AType and address bytes AAddress.
std::string Socks5Reply(char ACode, char AType = 1, const std::string& AAddress = "\x7f\0\0\1"s) {
  return std::string{5, ACode, 0, AType} + AAddress + PortBytes;
}

// An I/O handler whose connects go through the scripted proxy.
struct Proxied {
  explicit Proxied(ServerScript AScript, TSocksVersion AVersion = svSocks5) : Proxy(std::move(AScript)) {
    Handler.SocksInfo()->SetVersion(AVersion);
    Handler.SocksInfo()->SetHost(LoopbackServer::Host);
    Handler.SocksInfo()->SetPort(Proxy.Port());
  }
  // Connects through the proxy: "" on success, else the SOCKS error's class name and message.
  std::string Connect(const std::string& AHost = "127.0.0.1") {
    Handler.Open();
    try {
      Handler.ConnectTo(AHost, DestinationPort, "", 0, 0, 0, -1);
    } catch (const EIdSocksError& e) {
      return e.ClassName() + ": "s + e.Message();
    }
    return "";
  }
  // The first byte after the proxy's reply, which belongs to the destination.
  char NextByte() {
    char next = 0;
    EXPECT_EQ(Handler.ReceiveBuffer(&next, 1), 1);
    return next;
  }
  // What the proxy received before it answered (it answers only after a whole request).
  std::string Received() const { return Proxy.Received(); }
  // What a proxy that never answers received until the handler closed.
  std::string ReceivedUntilClose() {
    Handler.Close();
    EXPECT_TRUE(Proxy.WaitForPeerClose(5s));
    return Proxy.Received();
  }
  LoopbackServer Proxy;
  TIdIOHandlerSocket Handler{nullptr};
};

// A script that waits for a request of ARequestSize bytes, answers AReply followed by the
// destination's first byte D, and closes.
ServerScript Answer(size_t ARequestSize, const std::string& AReply) {
  return ServerScript().WaitForCount(ARequestSize).Send(AReply + "D").Close();
}

ServerScript Socks5NoAuth(const std::string& AConnectReply, size_t AConnectSize = Socks5Connect127.size()) {
  return ServerScript()
      .WaitForCount(3)
      .Send("\x05\x00"s)
      .WaitForCount(AConnectSize)
      .Send(AConnectReply + "D")
      .Close();
}

TEST(SocksNegotiation, Socks4SendsAddressAndUserIdCutTo255Bytes) {
  Proxied empty(Answer(9, Socks4Granted), svSocks4);
  EXPECT_EQ(empty.Connect("localhost"), "");
  EXPECT_EQ(empty.NextByte(), 'D');
  EXPECT_EQ(empty.Received(), "\x04\x01\x12\x34\x7f\x00\x00\x01\x00"s);

  Proxied long_(Answer(8 + 255 + 1, Socks4Granted), svSocks4);
  long_.Handler.SocksInfo()->SetUsername(std::string(300, 'u'));
  EXPECT_EQ(long_.Connect(), "");
  EXPECT_EQ(long_.Received(), "\x04\x01\x12\x34\x7f\x00\x00\x01"s + std::string(255, 'u') + '\0');
}

TEST(SocksNegotiation, Socks4ASendsTheNameForTheProxyToResolve) {
  Proxied proxied(Answer(8 + 3 + 10, Socks4Granted), svSocks4A);
  proxied.Handler.SocksInfo()->SetUsername("me");
  EXPECT_EQ(proxied.Connect("localhost"), "");
  EXPECT_EQ(proxied.NextByte(), 'D');
  EXPECT_EQ(proxied.Received(), "\x04\x01\x12\x34\x00\x00\x00\x01me\0localhost\0"s);
}

TEST(SocksNegotiation, Socks4ResultCodes) {
  const std::pair<char, std::string> cases[] = {
      {91, "EIdSocksRequestFailed: Request rejected or failed."},
      {92, "EIdSocksRequestServerFailed: Request rejected because SOCKS server cannot connect."},
      {93,
       "EIdSocksRequestIdentFailed: Request rejected because the client program and identd report "
       "different user-ids."},
      {0, "EIdSocksUnknownError: Unknown socks error."},
      {89, "EIdSocksUnknownError: Unknown socks error."},
      {'\xff', "EIdSocksUnknownError: Unknown socks error."},
  };
  for (const auto& [code, outcome] : cases) {
    Proxied proxied(Answer(9, "\x00"s + code + "\x12\x34\x7f\x00\x00\x01"s), svSocks4);
    EXPECT_EQ(proxied.Connect(), outcome) << int(code);
  }
}

TEST(SocksNegotiation, Socks5SendsEveryDestinationByName) {
  Proxied dotted(Socks5NoAuth(Socks5Reply(0)));
  EXPECT_EQ(dotted.Connect("127.0.0.1"), "");
  EXPECT_EQ(dotted.NextByte(), 'D');
  EXPECT_EQ(dotted.Received(), "\x05\x01\x00"s + Socks5Connect127);

  // The longest name that its length byte can tell.
  const std::string name(255, 'n');
  Proxied longest(Socks5NoAuth(Socks5Reply(0), 7 + 255));
  EXPECT_EQ(longest.Connect(name), "");
  EXPECT_EQ(longest.Received(), "\x05\x01\x00\x05\x01\x00\x03\xff"s + name + PortBytes);
}

TEST(SocksNegotiation, Socks5WithUserNameAndPassword) {
  Proxied proxied(ServerScript()
                      .WaitForCount(3)
                      .Send("\x05\x02"s)
                      .WaitForCount(3 + 3 + 6)
                      .Send("\x01\x00"s)
                      .WaitForCount(Socks5Connect127.size())
                      .Send(Socks5Reply(0) + "D")
                      .Close());
  proxied.Handler.SocksInfo()->SetAuthentication(saUsernamePassword);
  proxied.Handler.SocksInfo()->SetUsername("bob");
  proxied.Handler.SocksInfo()->SetPassword("secret");
  EXPECT_EQ(proxied.Connect(), "");
  EXPECT_EQ(proxied.NextByte(), 'D');
  EXPECT_EQ(proxied.Received(),
            "\x05\x01\x02\x01\x03"
            "bob\x06"
            "secret"s +
                Socks5Connect127);
}

TEST(SocksNegotiation, Socks5RefusedMethodOrPassword) {
  const std::string methodError = "EIdSocksAuthMethodError: Invalid socks authentication method.";
  Proxied none(Answer(3, "\x05\xff"s));
  EXPECT_EQ(none.Connect(), methodError);
  Proxied other(Answer(3, "\x05\x02"s));  // no authentication was offered
  EXPECT_EQ(other.Connect(), methodError);

  Proxied refused(ServerScript().WaitForCount(3).Send("\x05\x02"s).WaitForCount(7).Send("\x01\x01"s).Close());
  refused.Handler.SocksInfo()->SetAuthentication(saUsernamePassword);
  refused.Handler.SocksInfo()->SetUsername("bob");
  refused.Handler.SocksInfo()->SetPassword("x");
  EXPECT_EQ(refused.Connect(), "EIdSocksAuthError: Authentication error to socks server.");
}

TEST(SocksNegotiation, Socks5ResultCodes) {
  const std::pair<char, std::string> cases[] = {
      {0, ""},
      {1, "EIdSocksServerGeneralError: General SOCKS server failure."},
      {2, "EIdSocksServerPermissionError: Connection not allowed by ruleset."},
      {3, "EIdSocksServerNetUnreachableError: Network unreachable."},
      {4, "EIdSocksServerHostUnreachableError: Host unreachable."},
      {5, "EIdSocksServerConnectionRefusedError: Connection refused."},
      {6, "EIdSocksServerTTLExpiredError: TTL expired."},
      {7, "EIdSocksServerCommandError: Command not supported."},
      {8, "EIdSocksServerAddressError: "},
      {9, "EIdSocksUnknownError: Unknown socks error."},
      {'\xff', "EIdSocksUnknownError: Unknown socks error."},
  };
  for (const auto& [code, outcome] : cases) {
    Proxied proxied(Socks5NoAuth(Socks5Reply(code)));
    EXPECT_EQ(proxied.Connect(), outcome) << int(code);
  }
}

TEST(SocksNegotiation, Socks5ReplyIsReadToItsEndAndNoFurther) {
  const std::string replies[] = {
      Socks5Reply(0, 1, "\x7f\0\0\1"s),
      Socks5Reply(0, 3, "\0"s),
      Socks5Reply(0, 3, '\xff' + std::string(255, 'b')),
      Socks5Reply(0, 4, std::string(16, '\0')),
  };
  for (const std::string& reply : replies) {
    Proxied proxied(Socks5NoAuth(reply));
    EXPECT_EQ(proxied.Connect(), "") << int(reply[3]);
    EXPECT_EQ(proxied.NextByte(), 'D') << int(reply[3]);
  }
}

TEST(SocksNegotiation, Socks5ReplyOfAnUnknownAddressTypeIsRefusedAfterItsFirstFiveBytes) {
  for (const char type : {'\0', '\2', '\5', '\xff'}) {
    Proxied proxied(Socks5NoAuth(Socks5Reply(0, type, "\x01\x02"s)));
    EXPECT_EQ(proxied.Connect(), "EIdSocksReplyAddressTypeError: Unknown address type in socks reply.")
        << int(type);
    EXPECT_EQ(proxied.NextByte(), '\2') << int(type);
  }
}

TEST(SocksNegotiation, RepliesArrivingAByteAtATime) {
  auto trickle = [](ServerScript& AScript, const std::string& ABytes) -> ServerScript& {
    for (const char byte : ABytes) AScript.Send(std::string(1, byte)).Silence(5ms);
    return AScript;
  };
  ServerScript socks5 = ServerScript().WaitForCount(3);
  trickle(socks5, "\x05\x00"s).WaitForCount(Socks5Connect127.size());
  trickle(socks5, Socks5Reply(0, 3, "\x02xy")).Send("D").Close();
  Proxied proxied5(socks5);
  EXPECT_EQ(proxied5.Connect(), "");
  EXPECT_EQ(proxied5.NextByte(), 'D');

  ServerScript socks4 = ServerScript().WaitForCount(9);
  trickle(socks4, Socks4Granted).Send("D").Close();
  Proxied proxied4(socks4, svSocks4);
  EXPECT_EQ(proxied4.Connect(), "");
  EXPECT_EQ(proxied4.NextByte(), 'D');
}

TEST(SocksNegotiation, ProxyClosingInsideAReplyDidNotRespond) {
  const std::string noResponse = "EIdSocksServerRespondError: Socks server did not respond.";
  Proxied socks4(ServerScript().WaitForCount(9).Send("\x00\x5a\x12"s).Close(), svSocks4);
  EXPECT_EQ(socks4.Connect(), noResponse);
  Proxied method(ServerScript().WaitForCount(3).Send("\x05"s).Close());
  EXPECT_EQ(method.Connect(), noResponse);
  Proxied head(
      ServerScript().WaitForCount(3).Send("\x05\x00"s).WaitForCount(16).Send("\x05\x00\x00"s).Close());
  EXPECT_EQ(head.Connect(), noResponse);
  Proxied rest(ServerScript()
                   .WaitForCount(3)
                   .Send("\x05\x00"s)
                   .WaitForCount(16)
                   .Send("\x05\x00\x00\x03\x0a"
                         "abc"s)
                   .Close());
  EXPECT_EQ(rest.Connect(), noResponse);
}

TEST(SocksNegotiation, OverlongTextsAreRefusedBeforeAnythingIsSent) {
  const std::string tooLong = "EIdSocksTextTooLong: Text too long for a socks request.";
  const std::string text256(256, 't');
  Proxied host(ServerScript{});
  EXPECT_EQ(host.Connect(text256), tooLong);
  EXPECT_EQ(host.ReceivedUntilClose(), "");

  Proxied socks4a(ServerScript{}, svSocks4A);
  EXPECT_EQ(socks4a.Connect(text256), tooLong);
  EXPECT_EQ(socks4a.ReceivedUntilClose(), "");

  for (const bool longUser : {true, false}) {
    Proxied credentials(ServerScript{});
    credentials.Handler.SocksInfo()->SetAuthentication(saUsernamePassword);
    credentials.Handler.SocksInfo()->SetUsername(longUser ? text256 : "bob");
    credentials.Handler.SocksInfo()->SetPassword(longUser ? "secret" : text256);
    EXPECT_EQ(credentials.Connect(), tooLong);
    EXPECT_EQ(credentials.ReceivedUntilClose(), "");
  }
}

TEST(SocksNegotiation, Socks4TextsWithAZeroByteAreRefusedBeforeAnythingIsSent) {
  const std::string zeroByte = "EIdSocksTextHasZeroByte: Zero byte in a text of a socks request.";
  // Sent, the user id would end at the zero byte and the rest would become the destination's name.
  Proxied user(ServerScript{}, svSocks4A);
  user.Handler.SocksInfo()->SetUsername("me\0elsewhere.test"s);
  EXPECT_EQ(user.Connect("localhost"), zeroByte);
  EXPECT_EQ(user.ReceivedUntilClose(), "");

  Proxied host(ServerScript{}, svSocks4A);
  EXPECT_EQ(host.Connect("wanted.test\0other"s), zeroByte);
  EXPECT_EQ(host.ReceivedUntilClose(), "");

  // A zero byte after the 255 bytes of the user id that are sent changes nothing.
  Proxied cut(Answer(8 + 255 + 1, Socks4Granted), svSocks4);
  cut.Handler.SocksInfo()->SetUsername(std::string(255, 'u') + '\0');
  EXPECT_EQ(cut.Connect(), "");
}

TEST(SocksNegotiation, ADestinationPortOutsideSixteenBitsIsRefusedBeforeAnythingIsSent) {
  for (const TSocksVersion version : {svSocks4, svSocks4A, svSocks5}) {
    for (const int32_t port : {65616, -1}) {
      Proxied proxied(ServerScript{}, version);
      proxied.Handler.Open();
      try {
        proxied.Handler.ConnectTo("127.0.0.1", port, "", 0, 0, 0, -1);
        ADD_FAILURE() << "port " << port << " was asked of the proxy";
      } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.ErrorCode(), 22);
      }
      EXPECT_EQ(proxied.ReceivedUntilClose(), "");
    }
  }
}

TEST(SocksNegotiation, Socks5SendsAnIpv6DestinationAsAddressTypeFour) {
  const std::string loopback6 = std::string(15, '\0') + '\1';
  for (const std::string host : {"::1", "[::1]", "0:0::0:1"}) {
    Proxied proxied(Socks5NoAuth(Socks5Reply(0, 4, loopback6), 4 + 16 + 2));
    EXPECT_EQ(proxied.Connect(host), "") << host;
    EXPECT_EQ(proxied.NextByte(), 'D') << host;
    EXPECT_EQ(proxied.Received(), "\x05\x01\x00\x05\x01\x00\x04"s + loopback6 + PortBytes) << host;
  }
  // The zone is the client's own business: the proxy gets the sixteen bytes alone.
  Proxied zoned(Socks5NoAuth(Socks5Reply(0), 4 + 16 + 2));
  EXPECT_EQ(zoned.Connect("fe80::1%lo"), "");
  EXPECT_EQ(zoned.Received(),
            "\x05\x01\x00\x05\x01\x00\x04\xfe\x80"s + std::string(13, '\0') + '\1' + PortBytes);

  Proxied bad(ServerScript{});
  EXPECT_EQ(MessageOf<EIdInvalidIPv6Address>([&] { bad.Connect("1::2::3"); }),
            "Invalid IPv6 address 1::2::3.");
  EXPECT_EQ(bad.ReceivedUntilClose(), "");
}

TEST(SocksNegotiation, Socks4RefusesAnIpv6DestinationBeforeAnythingIsSent) {
  Proxied proxied(ServerScript{}, svSocks4);
  EXPECT_EQ(proxied.Connect("::1"),
            "EIdSocks4IPv6Destination: SOCKS 4 cannot reach an IPv6 address; use SOCKS 5.");
  EXPECT_EQ(proxied.ReceivedUntilClose(), "");

  // SOCKS 4A passes any text on as a name for the proxy to resolve.
  Proxied byName(Answer(8 + 1 + 4, Socks4Granted), svSocks4A);
  EXPECT_EQ(byName.Connect("::1"), "");
  EXPECT_EQ(byName.Received(), "\x04\x01\x12\x34\x00\x00\x00\x01\0::1\0"s);
}

}  // namespace
}  // namespace qor
