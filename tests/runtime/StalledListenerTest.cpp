#include "support/StalledListener.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "support/Posix.hpp"

namespace qor::test {
namespace {

TEST(StalledListener, AConnectToItStaysPending) {
  StalledListener listener;
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const sockaddr_in address = LoopbackAddress(listener.Port());
  ASSERT_EQ(::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), -1);
  ASSERT_EQ(errno, EINPROGRESS);
  pollfd p{fd.Get(), POLLOUT, 0};
  EXPECT_EQ(::poll(&p, 1, 1500), 0);  // past the first SYN retry
}

}  // namespace
}  // namespace qor::test
