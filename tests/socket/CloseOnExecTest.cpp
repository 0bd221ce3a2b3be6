// Descriptors of the stack are not inherited by programs that the library's user starts.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "qorclnt/socket/IdStack.hpp"
#include "socket/TransportSockets.hpp"
#include "support/LoopbackServer.hpp"
#include "support/ProcessRunner.hpp"

namespace qor {
namespace {

using namespace std::chrono_literals;
using transport_test::BoundSocket;
using transport_test::LocalPort;

// What /proc shows for descriptor AFd of this process, e.g. "socket:[12345]".
std::string DescriptorTarget(int AFd) {
  char target[64]{};
  const ssize_t length =
      ::readlink(("/proc/self/fd/" + std::to_string(AFd)).c_str(), target, sizeof target - 1);
  return length > 0 ? std::string(target, static_cast<size_t>(length)) : "";
}

bool CloseOnExec(int AFd) {
  const int flags = ::fcntl(AFd, F_GETFD);
  return flags != -1 && (flags & FD_CLOEXEC) != 0;
}

TEST(CloseOnExec, AProgramStartedAfterAConnectSeesNoneOfTheClientsSockets) {
  test::LoopbackServer server(test::ServerScript().Silence(100ms));
  TIdIOHandlerSocket handler(nullptr);
  handler.Open();
  handler.ConnectTo(test::LoopbackServer::Host, server.Port(), "", 0, 0, 0, -1);
  const int client = handler.Socket()->Descriptor();
  const std::string socket = DescriptorTarget(client);
  ASSERT_EQ(socket.rfind("socket:", 0), 0u) << socket;
  EXPECT_TRUE(CloseOnExec(client));

  test::ChildProcess child("/bin/ls", {"-l", "/proc/self/fd/"});
  const test::ProcessResult listing = child.Wait();
  ASSERT_EQ(listing.ExitCode, 0) << listing.Stderr;
  EXPECT_NE(listing.Stdout.find("pipe:"), std::string::npos) << listing.Stdout;  // the listing is real
  EXPECT_EQ(listing.Stdout.find(socket), std::string::npos) << listing.Stdout;
}

TEST(CloseOnExec, NewAndAcceptedSocketsAreCloseOnExec) {
  const TIdIOHandlerSocket keepsTheStack(nullptr);
  const TIdStackSocketHandle fresh = CurrentStack->NewSocket(Id_PF_INET, SOCK_STREAM, 0);
  ASSERT_NE(fresh, -1);
  EXPECT_TRUE(CloseOnExec(fresh));
  CurrentStack->CloseSocketDescriptor(fresh);

  const test::UniqueFd listener = BoundSocket(0, 1);
  const test::UniqueFd peer(::socket(AF_INET, SOCK_STREAM, 0));
  const sockaddr_in address{
      AF_INET, htons(static_cast<uint16_t>(LocalPort(listener.Get()))), {htonl(INADDR_LOOPBACK)}, {}};
  ASSERT_EQ(::connect(peer.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  pollfd ready{listener.Get(), POLLIN, 0};
  ASSERT_EQ(::poll(&ready, 1, 5000), 1);
  std::string ip;
  int32_t port = 0;
  const TIdStackSocketHandle accepted = CurrentStack->AcceptConnection(listener.Get(), ip, port);
  ASSERT_NE(accepted, -1);
  EXPECT_TRUE(CloseOnExec(accepted));
  EXPECT_EQ(ip, "127.0.0.1");
  CurrentStack->CloseSocketDescriptor(accepted);
}

}  // namespace
}  // namespace qor
