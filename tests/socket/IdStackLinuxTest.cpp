#include "qorclnt/socket/IdStackLinux.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/runtime/RuntimeErrors.hpp"
#include "socket/LoopbackSockets.hpp"

namespace qor {
namespace {

// The error number that the stack's check reports for a failed call.
int32_t RaisedCode(TIdStackLinux& AStack, int32_t AResult) {
  try {
    AStack.CheckSocketResult(AResult);
  } catch (const EIdSocketError& error) {
    return error.ErrorCode();
  }
  return 0;
}

TEST(IdStackLinux, ErrorTextGivesResolverTextsForOneToThreeAndTheSystemsForFour) {
  TIdStackLinux stack;
  EXPECT_EQ("Host not found.", stack.ErrorText(1));
  EXPECT_EQ("Non-authoritative response (try again or check DNS setup).", stack.ErrorText(2));
  EXPECT_EQ("Non-recoverable errors: FORMERR, REFUSED, NOTIMP.", stack.ErrorText(3));
  EXPECT_EQ("Socket Error # 4\r\nInterrupted system call.", stack.ErrorText(4));
  EXPECT_EQ("Socket Error # 111\r\nConnection refused.", stack.ErrorText(111));
}

TEST(IdStackLinux, TheResolversOwnFailuresKeepItsTextsAndNumbers) {
  TIdStackLinux stack;
  for (const auto& [code, text] : std::vector<std::pair<int32_t, std::string>>{
           {1, "Host not found."},
           {2, "Non-authoritative response (try again or check DNS setup)."},
           {3, "Non-recoverable errors: FORMERR, REFUSED, NOTIMP."},
           {4, "Valid name, no data record (check DNS setup)."}}) {
    try {
      stack.RaiseResolverError(code);
      ADD_FAILURE() << "nothing raised for " << code;
    } catch (const EIdSocketError& error) {
      EXPECT_EQ(error.ErrorCode(), code);
      EXPECT_EQ(error.Message(), text);
    }
  }
}

TEST(IdStackLinux, SendToAClosedPeerIsAResetNotASignal) {
  TIdStackLinux stack;
  TLoopbackPair pair;
  ASSERT_NE(-1, pair.Server.Get());
  pair.Server.Reset();
  const char byte = 'x';
  ASSERT_EQ(1, stack.SendData(pair.Client.Get(), &byte, 1, 0));  // answered by a reset
  pollfd reset{pair.Client.Get(), 0, 0};
  ASSERT_EQ(1, ::poll(&reset, 1, 5000));
  const int32_t result = stack.SendData(pair.Client.Get(), &byte, 1, 0);
  const int error = errno;
  EXPECT_EQ(-1, result);
  EXPECT_EQ(EPIPE, error);
  errno = error;
  EXPECT_EQ(104, RaisedCode(stack, result));
}

TEST(IdStackLinux, PortsOutsideSixteenBitsAreRefusedWithoutASystemCall) {
  // Descriptor -1 would make the system fail with EBADF, so EINVAL shows it was not called.
  TIdStackLinux stack;
  const char byte = 'x';
  for (const int32_t port : {65536, -1, 0x10050}) {
    EXPECT_EQ(22, RaisedCode(stack, stack.BindSocket(-1, Id_PF_INET, "127.0.0.1", port)));
    EXPECT_EQ(22, RaisedCode(stack, stack.ConnectSocket(-1, Id_PF_INET, "127.0.0.1", port)));
    EXPECT_EQ(22, RaisedCode(stack, stack.SendDataTo(-1, &byte, 1, 0, "127.0.0.1", port)));
  }
  EXPECT_EQ(9, RaisedCode(stack, stack.ConnectSocket(-1, Id_PF_INET, "127.0.0.1", 65535)));
  EXPECT_EQ(9, RaisedCode(stack, stack.BindSocket(-1, Id_PF_INET, "127.0.0.1", 0)));
  char buffer[4];
  EXPECT_EQ(22,
            RaisedCode(stack, stack.ReceiveData(-1, buffer, -1, 0)));  // a negative length is no huge size
  EXPECT_EQ(22, RaisedCode(stack, stack.SendData(-1, buffer, -1, 0)));
}

TEST(IdStackLinux, TcpConnectionThroughTheStack) {
  TIdStackLinux stack;
  const UniqueFd listener(stack.CreateIPv4Socket(SOCK_STREAM, 0));
  ASSERT_EQ(0, stack.BindSocket(listener.Get(), Id_PF_INET, "127.0.0.1", 0));
  ASSERT_EQ(0, stack.ListenSocket(listener.Get(), 1));
  uint16_t family = 0;
  std::string ip;
  int32_t port = 0;
  stack.GetSocketAddress(listener.Get(), family, ip, port);
  EXPECT_EQ(Id_PF_INET, family);
  EXPECT_EQ("127.0.0.1", ip);

  const UniqueFd client(stack.CreateIPv4Socket(SOCK_STREAM, 0));
  EXPECT_THROW(stack.GetPeerAddress(client.Get(), family, ip, port), EIdSocketError);  // not connected
  ASSERT_EQ(0, stack.ConnectSocket(client.Get(), Id_PF_INET, "127.0.0.1", port));
  std::string acceptedIP;
  int32_t acceptedPort = 0;
  const UniqueFd server(stack.AcceptConnection(listener.Get(), acceptedIP, acceptedPort));
  ASSERT_NE(-1, server.Get());
  stack.GetSocketAddress(client.Get(), family, ip, port);
  EXPECT_EQ("127.0.0.1:" + std::to_string(port), acceptedIP + ":" + std::to_string(acceptedPort));

  EXPECT_EQ(5, stack.SendData(client.Get(), "hello", 5, 0));
  EXPECT_EQ(0, stack.ShutdownSocket(client.Get(), SHUT_WR));
  char buffer[16];
  EXPECT_EQ(5, stack.ReceiveData(server.Get(), buffer, sizeof buffer, 0));
  EXPECT_EQ("hello", std::string(buffer, 5));
  EXPECT_EQ(0, stack.ReceiveData(server.Get(), buffer, sizeof buffer, 0));  // the peer's close
  // A bad descriptor is reported as an interruption.
  EXPECT_EQ(4, RaisedCode(stack, stack.AcceptConnection(-1, acceptedIP, acceptedPort)));
}

TEST(IdStackLinux, ParseAddressReadsFourNumberFields) {
  TIdStackLinux stack;
  TIdIn4Addr address{};
  stack.ParseAddress("$7F.0x0.+1.2.junk", address);
  EXPECT_EQ((TIdIn4Addr{127, 0, 1, 2}), address);
  stack.ParseAddress("256.257.-1.10", address);  // fields wrap to their low 8 bits
  EXPECT_EQ((TIdIn4Addr{0, 1, 255, 10}), address);
  for (const char* text : {"10.0.0", "a.b.c.d", "1..2.3", ""}) {
    EXPECT_THROW(stack.ParseAddress(text, address), EConvertError) << text;
  }
  EXPECT_EQ("0.10.255.1", stack.FormatAddress({0, 10, 255, 1}));
}

}  // namespace
}  // namespace qor
