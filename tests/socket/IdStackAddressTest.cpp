#include "qorclnt/socket/IdStackAddress.hpp"

#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>
#include <utility>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdStackLinux.hpp"
#include "support/Ipv6Loopback.hpp"
#include "support/MessageOf.hpp"

namespace qor {
namespace {

using test::MessageOf;

// The canonical text of AText, or the message of the error it raises.
std::string Canonical(const std::string& AText) {
  try {
    return CanonicalIPv6(AText);
  } catch (const EIdInvalidIPv6Address& error) {
    return error.Message();
  }
}

TEST(IdStackAddress, Ipv6TextsAreWrittenInTheirShortestForm) {
  // The zone by name, in any case (the console upper-cases what it is given), or by number.
  const std::string loIndex = std::to_string(::if_nametoindex("lo"));
  const std::pair<std::string, std::string> cases[] = {
      {"::1", "::1"},
      {"[::1]", "::1"},
      {"0:0:0:0:0:0:0:1", "::1"},
      {"2001:DB8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
      {"::FFFF:127.0.0.1", "::ffff:127.0.0.1"},
      {"fe80::1%lo", "fe80::1%lo"},
      {"[FE80::1%LO]", "fe80::1%lo"},
      {"fe80::1%" + loIndex, "fe80::1%lo"},
  };
  for (const auto& [text, canonical] : cases) EXPECT_EQ(Canonical(text), canonical) << text;
}

TEST(IdStackAddress, UnusableIpv6TextsAreClearErrors) {
  for (const std::string text : {"fe80::1", "[FEBF::2]"}) {
    EXPECT_EQ(Canonical(text), "Link-local IPv6 address " + text + " needs a zone (%interface).");
  }
  for (const std::string text : {"fe80::1%nosuchif0", "fe80::1%", "1::2::3", "[::1", "::1]"}) {
    EXPECT_EQ(Canonical(text), "Invalid IPv6 address " + text + ".");
  }
  EXPECT_FALSE(IsLinkLocal({0xfe, 0xc0}));  // fec0::/10 is not fe80::/10
}

TEST(IdStackAddress, HostTextsOfBothFamiliesNeedNoLookup) {
  TIdStackLinux stack;
  EXPECT_EQ(stack.HostToAddress("[::1]"), "::1");
  EXPECT_EQ(stack.HostToAddresses("::1"), std::vector<std::string>{"::1"});
  EXPECT_EQ(stack.HostToAddresses("localhost"), std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(stack.HostToAddresses("127.1.2.3"), std::vector<std::string>{"127.1.2.3"});
  EXPECT_EQ(MessageOf<EIdInvalidIPv6Address>([&] { stack.HostToAddresses("fe80::9"); }),
            "Link-local IPv6 address fe80::9 needs a zone (%interface).");
  // The IPv4 operations are as they were: an IPv6 text is no dotted quad.
  EXPECT_FALSE(stack.IsDottedQuad("::1"));
  EXPECT_FALSE(stack.IsDottedQuad("::ffff:127.0.0.1"));
  EXPECT_EQ(stack.FormatAddress({127, 0, 0, 1}), "127.0.0.1");
}

TEST(IdStackAddress, SocketCallsOverIpv6Loopback) {
  QOR_REQUIRE_IPV6();
  TIdStackLinux stack;
  const TIdStackSocketHandle listener = stack.CreateSocket(Id_PF_INET6, SOCK_STREAM, 0);
  ASSERT_EQ(stack.BindSocket(listener, Id_PF_INET6, "[::1]", 0), 0);
  ASSERT_EQ(stack.ListenSocket(listener, 1), 0);
  uint16_t family = 0;
  std::string ip;
  int32_t port = 0;
  int32_t listenPort = 0;
  stack.GetSocketAddress(listener, family, ip, listenPort);
  EXPECT_EQ(family, Id_PF_INET6);
  EXPECT_EQ(ip, "::1");
  const TIdStackSocketHandle other = stack.CreateSocket(Id_PF_INET6, SOCK_STREAM, 0);
  ASSERT_EQ(stack.ConnectSocket(other, Id_PF_INET6, "0::1", listenPort), 0);
  std::string peerIP;
  int32_t peerPort = 0;
  const TIdStackSocketHandle accepted = stack.AcceptConnection(listener, peerIP, peerPort);
  ASSERT_GE(accepted, 0);
  EXPECT_EQ(peerIP, "::1");
  stack.GetSocketAddress(other, family, ip, port);
  EXPECT_EQ(peerPort, port);
  stack.GetPeerAddress(other, family, ip, port);
  EXPECT_EQ(ip + " " + std::to_string(port), "::1 " + std::to_string(listenPort));

  // An IPv6 text that names no address is refused like any bad argument.
  errno = 0;
  EXPECT_EQ(stack.ConnectSocket(other, Id_PF_INET6, "1::2::3", listenPort), -1);
  EXPECT_EQ(errno, EINVAL);
  for (const TIdStackSocketHandle handle : {listener, other, accepted}) {
    stack.CloseSocketDescriptor(handle);
  }
}

TEST(IdStackAddress, DatagramsOverIpv6LoopbackNameTheirSender) {
  QOR_REQUIRE_IPV6();
  TIdStackLinux stack;
  const TIdStackSocketHandle receiver = stack.CreateSocket(Id_PF_INET6, SOCK_DGRAM, 0);
  const TIdStackSocketHandle sender = stack.CreateSocket(Id_PF_INET6, SOCK_DGRAM, 0);
  ASSERT_EQ(stack.BindSocket(receiver, Id_PF_INET6, "::1", 0), 0);
  ASSERT_EQ(stack.BindSocket(sender, Id_PF_INET6, "::1", 0), 0);
  uint16_t family = 0;
  std::string ip;
  int32_t receiverPort = 0;
  int32_t senderPort = 0;
  stack.GetSocketAddress(receiver, family, ip, receiverPort);
  stack.GetSocketAddress(sender, family, ip, senderPort);
  ASSERT_EQ(stack.SendDataTo(sender, "six", 3, 0, "[::1]", receiverPort), 3);
  char buffer[8]{};
  std::string from;
  int32_t fromPort = 0;
  ASSERT_EQ(stack.ReceiveDataFrom(receiver, buffer, sizeof buffer, 0, from, fromPort), 3);
  EXPECT_EQ(std::string(buffer, 3) + " from " + from + " " + std::to_string(fromPort),
            "six from ::1 " + std::to_string(senderPort));
  stack.CloseSocketDescriptor(receiver);
  stack.CloseSocketDescriptor(sender);
}

}  // namespace
}  // namespace qor
