// The resolver operations of TIdStackLinux. Host lookups run through RunWithPrivateResolver, so
// that no query leaves the machine.
#include "qorclnt/socket/IdStackLinux.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "qorclnt/errors/IdException.hpp"
#include "support/PrivateResolver.hpp"

namespace qor {
namespace {

const TPrivateResolverSetup HostsSetup{"127.0.0.7 stack.invalid alias.invalid\n127.0.0.8 stack.invalid\n",
                                       "stack.invalid"};

// What a call gives: its text, or the number and message of the EIdSocketError it raises.
template <class TCall>
std::string Outcome(TCall ACall) {
  try {
    return ACall();
  } catch (const EIdSocketError& error) {
    return std::to_string(error.ErrorCode()) + " " + error.Message();
  }
}

std::string Join(const std::vector<std::string>& AList) {
  std::string result;
  for (const std::string& item : AList) result += item + ";";
  return result;
}

std::string LookUpUnknownNames() {
  TIdStackLinux stack;
  return Outcome([&] { return stack.LookupHostAddress("nowhere.invalid"); }) + "|" +
         Outcome([&] { return stack.HostToAddress("256.0.0.1"); }) + "|" +
         Outcome([&] { return stack.LookupHostName("127.0.0.9"); });
}

std::string LookUpKnownNames() {
  TIdStackLinux stack;
  return stack.LookupHostAddress("stack.invalid") + "|" + stack.HostToAddress("ALIAS.invalid") + "|" +
         stack.LookupHostName("127.0.0.7");
}

std::string ListLocalAddresses() {
  TIdStackLinux stack;
  return stack.GetLocalHostName() + "|" + Join(stack.GetLocalAddressList()) + "|" +
         Outcome([&] { return stack.GetFirstLocalAddress(); });
}

std::string FirstLocalAddress() {
  TIdStackLinux stack;
  errno = 0;  // a stale number that a failed lookup must not report
  return Outcome([&] { return stack.GetFirstLocalAddress(); });
}

TEST(IdStackLinuxResolver, UnknownHostIsHostNotFound) {
  QOR_REQUIRE_PRIVATE_NAMESPACE();
  EXPECT_EQ("1 Host not found.|1 Host not found.|1 Host not found.",
            RunWithPrivateResolver(LookUpUnknownNames, HostsSetup));
}

TEST(IdStackLinuxResolver, NamesAndAddressesComeFromTheHostsFile) {
  QOR_REQUIRE_PRIVATE_NAMESPACE();
  EXPECT_EQ("127.0.0.7|127.0.0.7|stack.invalid", RunWithPrivateResolver(LookUpKnownNames, HostsSetup));
}

TEST(IdStackLinuxResolver, LocalAddressesComeFromThisHostsEntry) {
  QOR_REQUIRE_PRIVATE_NAMESPACE();
  EXPECT_EQ("stack.invalid|127.0.0.7;127.0.0.8;|127.0.0.7",
            RunWithPrivateResolver(ListLocalAddresses, HostsSetup));
  TPrivateResolverSetup unlisted = HostsSetup;
  unlisted.HostName = "unlisted.invalid";
  // Without an entry for this host the lookup's own error is raised.
  EXPECT_EQ("1 Host not found.", RunWithPrivateResolver(FirstLocalAddress, unlisted));
}

TEST(IdStackLinuxResolver, ServicesByNameNumberAndPort) {
  TIdStackLinux stack;
  EXPECT_EQ(80, stack.ServiceToPort("http"));
  EXPECT_EQ(8080, stack.ServiceToPort("8080"));
  EXPECT_EQ(127, stack.ServiceToPort("$7F"));
  try {
    stack.ServiceToPort("no-such-service");
    FAIL() << "no error raised";
  } catch (const EIdInvalidServiceName& error) {
    EXPECT_EQ("no-such-service is not a valid service.", error.Message());
  }
  EXPECT_EQ("http;www;", Join(stack.PortToServiceNames(80)));
  EXPECT_EQ("", Join(stack.PortToServiceNames(80 + 65536)));  // not cut to port 80
  EXPECT_EQ("", Join(stack.PortToServiceNames(-1)));
}

// A name with addresses of both families (IPv4 written around an IPv6 one) and an IPv6-only name.
const TPrivateResolverSetup DualSetup{
    "127.0.0.7 dual.invalid\n::1 dual.invalid six.invalid\n127.0.0.8 dual.invalid\n", "dual.invalid"};

std::string LookUpEveryAddress() {
  TIdStackLinux stack;
  return Join(stack.LookupHostAddresses("dual.invalid")) + "|" + Join(stack.HostToAddresses("SIX.invalid")) +
         "|" + stack.HostToAddress("dual.invalid") + "|" + Join(stack.GetLocalAddressList()) + "|" +
         Outcome([&] { return Join(stack.HostToAddresses("nowhere.invalid")); });
}

// Threads asking for the local address list at once, each many times: the number of lists that were
// not the one expected.
std::string ListLocalAddressesOnManyThreads() {
  TIdStackLinux stack;
  const std::string expected = Join(stack.GetLocalAddressList());
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int thread = 0; thread < 6; ++thread) {
    threads.emplace_back([&] {
      for (int round = 0; round < 100; ++round) {
        if (round % 2 == 0) stack.FillLocalAddressList();
        if (Join(stack.GetLocalAddressList()) != expected) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  return expected + " wrong: " + std::to_string(wrong.load());
}

TEST(IdStackLinuxResolver, EveryAddressOfANameIpv4First) {
  // The IPv4 addresses in the resolver's order, then the IPv6 one; an unknown name fails as before.
  EXPECT_EQ("127.0.0.7;127.0.0.8;::1;|::1;|127.0.0.7|127.0.0.7;127.0.0.8;::1;|1 Host not found.",
            RunWithPrivateResolver(LookUpEveryAddress, DualSetup));
}

TEST(IdStackLinuxResolver, LocalAddressListIsSafeOnManyThreads) {
  EXPECT_EQ("127.0.0.7;127.0.0.8;::1; wrong: 0",
            RunWithPrivateResolver(ListLocalAddressesOnManyThreads, DualSetup));
}

}  // namespace
}  // namespace qor
