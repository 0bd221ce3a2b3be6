#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "support/StalledListener.hpp"

namespace qor::test {
namespace {

TEST(StalledListener, AConnectToItStaysPending) {
  StalledListener listener;
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(listener.Port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), -1);
  ASSERT_EQ(errno, EINPROGRESS);
  pollfd p{fd.Get(), POLLOUT, 0};
  EXPECT_EQ(::poll(&p, 1, 1500), 0);  // past the first SYN retry
}

}  // namespace
}  // namespace qor::test
