#include "qorclnt/socket/IdStackLinux.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "qorclnt/errors/IdException.hpp"
#include "socket/LoopbackSockets.hpp"
#include "support/Elapsed.hpp"
#include "support/StalledListener.hpp"

namespace qor {
namespace {

using Clock = std::chrono::steady_clock;
using test::MsSince;

// Connected stream sockets; the odd ones are the peers of the even ones.
std::vector<UniqueFd> SocketPairs(int ACount) {
  std::vector<UniqueFd> result;
  for (int i = 0; i < ACount; ++i) {
    int ends[2] = {-1, -1};
    EXPECT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, ends));
    result.emplace_back(ends[0]);
    result.emplace_back(ends[1]);
  }
  return result;
}

void RaiseDescriptorLimit(rlim_t AMinimum) {
  rlimit limit{};
  ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &limit));
  if (limit.rlim_cur >= AMinimum) return;
  ASSERT_GE(limit.rlim_max, AMinimum);
  limit.rlim_cur = AMinimum;
  ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &limit));
}

std::atomic<int> SignalsTaken{0};

// Interrupts the creating thread with SIGUSR1 every 10 ms while it lives.
class TSignalStorm {
 public:
  TSignalStorm() {
    struct sigaction action {};
    action.sa_handler = [](int) { SignalsTaken.fetch_add(1, std::memory_order_relaxed); };
    ::sigaction(SIGUSR1, &action, &FPrevious);  // no SA_RESTART
    FThread = std::thread([this, target = ::pthread_self()] {
      while (!FStop.load(std::memory_order_acquire)) {
        ::pthread_kill(target, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  ~TSignalStorm() {
    FStop.store(true, std::memory_order_release);
    FThread.join();
    ::sigaction(SIGUSR1, &FPrevious, nullptr);
  }
  TSignalStorm(const TSignalStorm&) = delete;
  TSignalStorm& operator=(const TSignalStorm&) = delete;

 private:
  struct sigaction FPrevious {};
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

TEST(IdStackLinuxWait, ReportsReadyDescriptorsPerListInAscendingOrder) {
  TIdStackLinux stack;
  std::vector<UniqueFd> ends = SocketPairs(3);
  const int a = ends[0].Get(), b = ends[2].Get(), c = ends[4].Get();
  ASSERT_EQ(1, ::write(ends[5].Get(), "x", 1));
  ASSERT_EQ(1, ::write(ends[1].Get(), "x", 1));
  TIdSocketDescriptors read = {c, b, a, c};
  TIdSocketDescriptors write = {b, a};
  EXPECT_EQ(4, stack.WaitForSockets(&read, &write, nullptr, 1000));
  EXPECT_EQ((TIdSocketDescriptors{a, c}), read);
  EXPECT_EQ((TIdSocketDescriptors{a, b}), write);

  // Urgent data makes a descriptor ready in the error list.
  TLoopbackPair pair;
  ASSERT_EQ(1, ::send(pair.Client.Get(), "!", 1, MSG_OOB));
  TIdSocketDescriptors error = {pair.Server.Get()};
  EXPECT_EQ(1, stack.WaitForSockets(nullptr, nullptr, &error, 1000));
  EXPECT_EQ(TIdSocketDescriptors{pair.Server.Get()}, error);
}

TEST(IdStackLinuxWait, TimeLimits) {
  TIdStackLinux stack;
  std::vector<UniqueFd> ends = SocketPairs(1);
  TIdSocketDescriptors read = {ends[0].Get()};
  auto start = Clock::now();
  EXPECT_EQ(0, stack.WaitForSockets(&read, nullptr, nullptr, 0));
  EXPECT_LT(MsSince(start), 500);
  EXPECT_TRUE(read.empty());

  start = Clock::now();
  read = {ends[0].Get()};
  EXPECT_EQ(0, stack.WaitForSockets(&read, nullptr, nullptr, 1500));  // 1 s and 500 ms
  EXPECT_GE(MsSince(start), 1400);
  EXPECT_LT(MsSince(start), 5000);

  start = Clock::now();
  EXPECT_EQ(0, stack.WaitForSockets(nullptr, nullptr, nullptr, 300));  // a plain pause
  EXPECT_GE(MsSince(start), 270);

  const int32_t refused = stack.WaitForSockets(nullptr, nullptr, nullptr, -1);  // as select does
  EXPECT_EQ(EINVAL, errno);
  EXPECT_EQ(-1, refused);

  std::thread writer([&ends] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(1, ::write(ends[1].Get(), "x", 1));
  });
  read = {ends[0].Get()};
  EXPECT_EQ(1, stack.WaitForSockets(&read, nullptr, nullptr, -2));  // no limit: wakes for the data
  writer.join();
}

TEST(IdStackLinuxWait, SignalsDoNotShortenTheWait) {
  TIdStackLinux stack;
  std::vector<UniqueFd> ends = SocketPairs(1);
  TIdSocketDescriptors read = {ends[0].Get()};
  const int before = SignalsTaken.load();
  const auto start = Clock::now();
  {
    const TSignalStorm storm;
    EXPECT_EQ(0, stack.WaitForSockets(&read, nullptr, nullptr, 1000));
  }
  EXPECT_GE(MsSince(start), 900);
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_GT(SignalsTaken.load() - before, 10);
}

// A blocking connect that a signal interrupts goes on in the system; the stack waits for its end
// through further signals, no longer than the socket's send time-out, and then reports what connect
// itself would have: EINPROGRESS.
TEST(IdStackLinuxWait, AnInterruptedConnectEndsAtTheSendTimeOut) {
  TIdStackLinux stack;
  const test::StalledListener stalled;
  const UniqueFd socket(::socket(AF_INET, SOCK_STREAM, 0));
  const timeval limit{1, 0};
  ASSERT_EQ(0, ::setsockopt(socket.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit));
  const int before = SignalsTaken.load();
  const auto start = Clock::now();
  int32_t result = 0;
  int error = 0;
  {
    const TSignalStorm storm;
    result = stack.ConnectSocket(socket.Get(), AF_INET, test::StalledListener::Host, stalled.Port());
    error = errno;
  }
  EXPECT_EQ(-1, result);
  EXPECT_EQ(EINPROGRESS, error);
  EXPECT_GE(MsSince(start), 900);
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_GT(SignalsTaken.load() - before, 10);
}

TEST(IdStackLinuxWait, ListsHoldAtMost1024Entries) {
  RaiseDescriptorLimit(2048);
  TIdStackLinux stack;
  std::vector<UniqueFd> ends = SocketPairs(512);
  TIdSocketDescriptors full;
  for (const UniqueFd& end : ends) full.push_back(end.Get());
  ASSERT_EQ(1, ::write(ends[7].Get(), "x", 1));
  TIdSocketDescriptors read = full;
  EXPECT_EQ(1, stack.WaitForSockets(&read, nullptr, nullptr, 1000));
  EXPECT_EQ(TIdSocketDescriptors{ends[6].Get()}, read);

  full.push_back(ends[0].Get());
  for (int list = 0; list < 3; ++list) {
    TIdSocketDescriptors lists[3] = {{}, {}, {}};
    lists[list] = full;
    const auto start = Clock::now();
    try {
      stack.WaitForSockets(&lists[0], &lists[1], &lists[2], 3000);
      ADD_FAILURE() << "no error raised for list " << list;
    } catch (const EIdSetSizeExceeded& error) {
      EXPECT_EQ("Set Size Exceeded.", error.Message());
    }
    EXPECT_LT(MsSince(start), 1000);
  }
}

TEST(IdStackLinuxWait, DescriptorsAbove1023AreServed) {
  RaiseDescriptorLimit(2100);
  TIdStackLinux stack;
  std::vector<UniqueFd> ends = SocketPairs(1);
  const UniqueFd high(::fcntl(ends[0].Get(), F_DUPFD, 2050));
  ASSERT_GE(high.Get(), 2050);
  ASSERT_EQ(1, ::write(ends[1].Get(), "x", 1));
  TIdSocketDescriptors read = {high.Get(), ends[0].Get()};
  EXPECT_EQ(2, stack.WaitForSockets(&read, nullptr, nullptr, 1000));
  EXPECT_EQ((TIdSocketDescriptors{ends[0].Get(), high.Get()}), read);
}

TEST(IdStackLinuxWait, BadDescriptorsFailTheWait) {
  TIdStackLinux stack;
  std::vector<UniqueFd> ends = SocketPairs(1);
  const int closed = ends[0].Get();
  ends[0].Reset();
  for (const int bad : {closed, -1}) {
    TIdSocketDescriptors read = {ends[1].Get(), bad};
    TIdSocketDescriptors write = {ends[1].Get()};
    const int32_t result = stack.WaitForSockets(&read, &write, nullptr, 1000);
    EXPECT_EQ(EBADF, errno);
    EXPECT_EQ(-1, result);
    EXPECT_TRUE(read.empty());
    EXPECT_TRUE(write.empty());
  }
}

TEST(IdStackLinuxWait, AResetDoesNotEndAWaitForUrgentData) {
  TIdStackLinux stack;
  TLoopbackPair pair;
  const linger reset{1, 0};
  ASSERT_EQ(0, ::setsockopt(pair.Server.Get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset));
  pair.Server.Reset();  // the client end gets a reset: a hang-up, but no urgent data
  TIdSocketDescriptors error = {pair.Client.Get()};
  const auto start = Clock::now();
  EXPECT_EQ(0, stack.WaitForSockets(nullptr, nullptr, &error, 300));
  EXPECT_GE(MsSince(start), 270);
  EXPECT_TRUE(error.empty());
}

}  // namespace
}  // namespace qor
