// The socket handler's connect over IPv6 and over every address of a name. Names come from a private
// hosts file (RunWithPrivateResolver), so no lookup leaves the machine.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "TransportSockets.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "support/Ipv6Loopback.hpp"
#include "support/PrivateResolver.hpp"

namespace qor {
namespace {

using namespace transport_test;
using test::BoundPort;
using test::BoundSocket6;
using Clock = std::chrono::steady_clock;

// A handler that notes its status texts, and connects afresh with Connect.
struct Handler {
  TIdIOHandlerSocket Socket{nullptr};
  std::string Status;

  Handler() {
    Socket.OnStatus = [this](TComponent*, TIdStatus, const std::string& AText) { Status += AText + " "; };
  }
  // "" when connected, else the class and message of the error.
  std::string Connect(const std::string& AHost, int APort, int32_t ATimeout, const std::string& ABoundIP = "",
                      int32_t APortMin = 0, int32_t APortMax = 0) {
    Socket.Close();
    Socket.Open();
    try {
      Socket.ConnectTo(AHost, APort, ABoundIP, 0, APortMin, APortMax, ATimeout);
    } catch (const Exception& error) {
      return std::string(error.ClassName()) + ": " + error.Message();
    }
    return "";
  }
  // The local and remote endpoints as "ip port > ip port".
  std::string Endpoints() const {
    const TIdSocketHandle& socket = *Socket.Socket();
    return socket.IP() + " " + std::to_string(socket.Port()) + " > " + socket.RemoteIP() + " " +
           std::to_string(socket.RemotePort());
  }
};

TEST(IOHandlerSocketAddresses, Ipv6LiteralsWithOrWithoutBrackets) {
  QOR_REQUIRE_IPV6();
  const UniqueFd listener = BoundSocket6(0, 8);
  const int port = BoundPort(listener);
  Handler handler;
  for (const int32_t timeout : {-1, 1000}) {
    for (const std::string host : {"::1", "[::1]", "0:0::1"}) {
      EXPECT_EQ(handler.Connect(host, port, timeout), "") << host;
      const int local = handler.Socket.Socket()->Port();
      EXPECT_EQ(handler.Endpoints(), "::1 " + std::to_string(local) + " > ::1 " + std::to_string(port));
    }
  }
  // A literal is not looked up: no "Resolving" status, the canonical text in "Connecting".
  EXPECT_EQ(handler.Status.substr(0, 40), "Connecting to ::1. Connecting to ::1. Co");
}

TEST(IOHandlerSocketAddresses, BoundIpv6AddressAndPortRange) {
  QOR_REQUIRE_IPV6();
  const UniqueFd listener = BoundSocket6(0, 8);
  uint16_t free = 0;
  {
    const UniqueFd probe = BoundSocket6();
    free = BoundPort(probe);
  }
  Handler handler;
  EXPECT_EQ(handler.Connect("::1", BoundPort(listener), 1000, "::1", free, free), "");
  EXPECT_EQ(handler.Socket.Socket()->IP(), "::1");
  EXPECT_EQ(handler.Socket.Socket()->Port(), free);
  // A bound IPv4 address cannot reach an IPv6 host.
  EXPECT_EQ(handler.Connect("::1", BoundPort(listener), 1000, "127.0.0.1"),
            "EIdSocketError: Socket Error # 97\r\nAddress family not supported by protocol family.");
}

// What connecting to AHost:APort with ATimeout gives in a child with the hosts file AHosts: the
// outcome, the status texts and whether it took under 900 ms, at least 900 ms or longer than it may.
std::string ConnectByName(const std::string& AHosts, const std::string& AHost, int APort, int32_t ATimeout) {
  return RunWithPrivateResolver(
      [&] {
        Handler handler;
        const Clock::time_point start = Clock::now();
        const std::string outcome = handler.Connect(AHost, APort, ATimeout);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        const char* took = ms < 900 ? "quick" : ms < 1800 ? "one time-out" : "too long";
        return outcome + "|" + handler.Status + "|" + took + "|" +
               (outcome.empty() ? handler.Socket.Socket()->RemoteIP() : "");
      },
      {AHosts, {}});
}

TEST(IOHandlerSocketAddresses, ANameWhoseFirstAddressRefusesConnectsToTheNext) {
  // Listening on 127.0.0.1 only: 127.0.0.2 refuses. (A plain socket: the parent must have no thread
  // of its own when the child forks.)
  const UniqueFd listener = BoundSocket(0, 8);
  const std::string hosts = "127.0.0.2 two.invalid\n127.0.0.1 two.invalid\n";
  for (const int32_t timeout : {-1, 1000}) {
    EXPECT_EQ(ConnectByName(hosts, "two.invalid", LocalPort(listener.Get()), timeout),
              "|Resolving hostname two.invalid. Connecting to 127.0.0.2. Connecting to 127.0.0.1. "
              "|quick|127.0.0.1");
  }
}

TEST(IOHandlerSocketAddresses, WhenEveryAddressFailsTheLastErrorIsRaised) {
  const UniqueFd refusing = BoundSocket();
  const std::string hosts = "127.0.0.2 none.invalid\n127.0.0.3 none.invalid\n";
  EXPECT_EQ(ConnectByName(hosts, "none.invalid", LocalPort(refusing.Get()), 1000),
            "EIdConnectException: Socket Error # 111\r\nConnection refused.|Resolving hostname none.invalid. "
            "Connecting to 127.0.0.2. Connecting to 127.0.0.3. |quick|");
  // A name without any address fails as it always has.
  EXPECT_EQ(ConnectByName(hosts, "nowhere.invalid", 1, 1000),
            "EIdSocketError: Host not found.|Resolving hostname nowhere.invalid. |quick|");
}

TEST(IOHandlerSocketAddresses, AllAddressesShareTheOneTimeOut) {
  const FullListener full;  // on 127.0.0.1: a connect to it hangs
  const std::string hosts = "127.0.0.1 slow.invalid\n127.0.0.2 slow.invalid\n";
  EXPECT_EQ(ConnectByName(hosts, "slow.invalid", full.Port, 1000),
            "EIdConnectTimeout: Connect timed out.|Resolving hostname slow.invalid. Connecting to 127.0.0.1. "
            "|one time-out|");
}

TEST(IOHandlerSocketAddresses, DualAndIpv6OnlyNames) {
  QOR_REQUIRE_IPV6();
  const UniqueFd listener = BoundSocket6(0, 8);  // IPv6 only: the IPv4 address of the name refuses
  const int port = BoundPort(listener);
  const std::string hosts = "127.0.0.1 dual.invalid\n::1 dual.invalid six.invalid\n";
  EXPECT_EQ(ConnectByName(hosts, "dual.invalid", port, 1000),
            "|Resolving hostname dual.invalid. Connecting to 127.0.0.1. Connecting to ::1. |quick|::1");
  EXPECT_EQ(ConnectByName(hosts, "six.invalid", port, -1),
            "|Resolving hostname six.invalid. Connecting to ::1. |quick|::1");
}

}  // namespace
}  // namespace qor
