#include <gtest/gtest.h>

#include "TransportSockets.hpp"
#include "qorclnt/connection/IdComponent.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdSocketHandle.hpp"
#include "support/LoopbackServer.hpp"

namespace qor {
namespace {

using namespace transport_test;

class SocketHandle : public ::testing::Test {
 protected:
  TIdComponent FStackUser{nullptr};  // keeps CurrentStack alive
  TIdSocketHandle FHandle;

  // A new descriptor bound to the given local end; the port bound.
  int32_t Bind(const std::string& AIP, int32_t APort, int32_t AMin = 0, int32_t AMax = 0) {
    FHandle.Allocate(SOCK_STREAM, 0);
    FHandle.SetIP(AIP);
    FHandle.SetPort(APort);
    FHandle.SetClientPortMin(AMin);
    FHandle.SetClientPortMax(AMax);
    FHandle.Bind();
    return FHandle.Port();
  }
};

TEST_F(SocketHandle, BindsFixedPortOrSystemChoiceAndRefusesPortInUse) {
  EXPECT_GT(Bind("", 0), 0);
  EXPECT_EQ(FHandle.IP(), "0.0.0.0");
  EXPECT_EQ(LocalPort(FHandle.Descriptor()), FHandle.Port());

  const int port = LocalPort(BoundSocket().Get());  // free again once its socket is gone
  EXPECT_EQ(Bind("127.0.0.1", port, 1, 2), port);   // a fixed port ignores the range
  TIdSocketHandle second;
  second.Allocate(SOCK_STREAM, 0);
  second.SetPort(port);
  EXPECT_EQ(MessageOf<EIdCouldNotBindSocket>([&] { second.Bind(); }),
            "Could not bind socket. Address and port are already in use.");
}

TEST_F(SocketHandle, BindSearchesClientPortRangeFromTop) {
  int low = 0;  // three free ports, found at run time
  do low = LocalPort(BoundSocket().Get()) - 2;
  while (!(BoundSocket(low).Valid() && BoundSocket(low + 1).Valid() && BoundSocket(low + 2).Valid()));
  EXPECT_EQ(Bind("127.0.0.1", 0, low, low + 2), low + 2);
  FHandle.CloseDescriptor();
  const UniqueFd top = BoundSocket(low + 2);
  EXPECT_EQ(Bind("127.0.0.1", 0, low, low + 2), low + 1);
  FHandle.CloseDescriptor();
  const UniqueFd rest[] = {BoundSocket(low + 1), BoundSocket(low)};
  EXPECT_EQ(MessageOf<EIdCanNotBindPortInRange>([&] { Bind("127.0.0.1", 0, low, low + 2); }),
            "Can not bind in port range (" + std::to_string(low) + " - " + std::to_string(low + 2) + ")");
  EXPECT_EQ(FHandle.Port(), low);
  EXPECT_NE(Bind("127.0.0.1", 0, 0, low + 2), low + 2);  // one end alone is no range

  EXPECT_EQ(MessageOf<EIdInvalidPortRange>([&] { Bind("", 0, 6000, 5000); }),
            "Invalid Port Range (6000 - 5000)");
  EXPECT_EQ(LocalPort(FHandle.Descriptor()), 0);
}

TEST_F(SocketHandle, ConnectReadsEndpointsBackAndCloseIsFinal) {
  const UniqueFd refusing = BoundSocket();
  Bind("", 0);
  FHandle.SetRemote("127.0.0.1", LocalPort(refusing.Get()));
  EXPECT_EQ(FHandle.ConnectToPeer(AF_INET), -1);
  EXPECT_EQ(FHandle.IP(), "0.0.0.0");

  const test::LoopbackServer server;
  const int32_t bound = Bind("", 0);
  FHandle.SetRemote("127.0.0.1", server.Port());
  EXPECT_EQ(FHandle.ConnectToPeer(AF_INET), 0);
  EXPECT_EQ(FHandle.IP(), "127.0.0.1");
  EXPECT_EQ(FHandle.Port(), bound);
  EXPECT_EQ(FHandle.RemotePort(), server.Port());

  FHandle.CloseDescriptor();
  FHandle.CloseDescriptor();
  EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { FHandle.WaitReadable(-2); }),
            "Connection Closed Gracefully.");
  FHandle.ResetHandle(false);
  EXPECT_EQ(FHandle.Port(), bound);
  EXPECT_EQ(FHandle.RemoteIP(), "");
  EXPECT_EQ(FHandle.Descriptor(), -1);
}

}  // namespace
}  // namespace qor
