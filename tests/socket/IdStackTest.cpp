#include "qorclnt/socket/IdStack.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <barrier>
#include <cerrno>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdStackLinux.hpp"

namespace qor {
namespace {

// A Linux stack whose name lookup only records what it is asked.
class TRecordingStack : public TIdStackLinux {
 public:
  std::string LookupHostAddress(const std::string& AHost) override {
    Lookups.push_back(AHost);
    return "192.0.2.1";
  }
  std::vector<std::string> Lookups;
};

TEST(IdStack, ErrorTextFormatsEveryTableRow) {
  // clang-format off
  const std::pair<int32_t, std::string> rows[] = {
      {4, "Interrupted system call."}, {9, "Bad file number."},
      {11, "Operation would block. "}, {13, "Access denied."},
      {14, "Bad address."}, {22, "Invalid argument."},
      {24, "Too many open files."}, {36, "File name too long."},
      {39, "Directory not empty"}, {40, "Too many levels of symbolic links."},
      {88, "Socket operation on non-socket."}, {89, "Destination address required."},
      {90, "Message too long."}, {91, "Protocol wrong type for socket."},
      {92, "Bad protocol option."}, {93, "Protocol not supported."},
      {94, "Socket type not supported."}, {95, "Operation not supported on socket."},
      {96, "Protocol family not supported."}, {97, "Address family not supported by protocol family."},
      {98, "Address already in use."}, {99, "Cannot assign requested address."},
      {100, "Network is down."}, {101, "Network is unreachable."},
      {102, "Net dropped connection or reset."}, {103, "Software caused connection abort."},
      {104, "Connection reset by peer."}, {105, "No buffer space available."},
      {106, "Socket is already connected."}, {107, "Socket is not connected."},
      {108, "Cannot send or receive after socket is closed."}, {109, "Too many references, cannot splice."},
      {110, "Connection timed out."}, {111, "Connection refused."},
      {112, "Host is down."}, {113, "No route to host."},
      {114, "Operation already in progress."}, {115, "Operation now in progress."},
  };
  // clang-format on
  TIdStackLinux stack;
  for (const auto& [code, text] : rows) {
    EXPECT_EQ("Socket Error # " + std::to_string(code) + "\r\n" + text, stack.TIdStack::ErrorText(code));
  }
  EXPECT_EQ("Socket Error # 5\r\n", stack.ErrorText(5));
  EXPECT_EQ("Socket Error # -1\r\n", stack.ErrorText(-1));
}

TEST(IdStack, CheckSocketResultRaisesUnlessIgnored) {
  TIdStackLinux stack;
  EXPECT_EQ(0, stack.LastErrorCode());
  errno = EADDRINUSE;
  EXPECT_TRUE(stack.CheckSocketResult(-1, {EADDRINUSE}));
  EXPECT_EQ(98, stack.LastErrorCode());

  errno = ECONNREFUSED;
  EXPECT_FALSE(stack.CheckSocketResult(0));
  EXPECT_FALSE(stack.CheckSocketResult(-2, {}));
  EXPECT_EQ(98, stack.LastErrorCode());  // only a failure is recorded

  errno = ENOTSOCK;
  EXPECT_TRUE(stack.CheckSocketResult(-1, {EBADF, ENOTSOCK}));
  EXPECT_EQ(88, stack.LastErrorCode());

  errno = ECONNREFUSED;
  try {
    stack.CheckSocketResult(-1, {EBADF});
    FAIL() << "no error raised";
  } catch (const EIdSocketError& error) {
    EXPECT_EQ(111, error.ErrorCode());
    EXPECT_EQ("Socket Error # 111\r\nConnection refused.", error.Message());
  }
  EXPECT_EQ(111, stack.LastErrorCode());
}

TEST(IdStack, EachThreadReadsItsOwnLastErrorCode) {
  TIdStackLinux stack;
  std::barrier bothFailed(2);
  // Each thread fails with its own number, waits until the other has failed too, then reads.
  auto failWith = [&stack, &bothFailed](int AError, int& VWrongReads) {
    for (int round = 0; round < 100; ++round) {
      errno = AError;
      stack.CheckSocketResult(-1, {AError});
      bothFailed.arrive_and_wait();
      if (stack.LastErrorCode() != AError) ++VWrongReads;
      bothFailed.arrive_and_wait();
    }
  };
  int wrongReadsOf9 = 0;
  int wrongReadsOf98 = 0;
  std::thread first(failWith, EBADF, std::ref(wrongReadsOf9));
  std::thread second(failWith, EADDRINUSE, std::ref(wrongReadsOf98));
  first.join();
  second.join();
  EXPECT_EQ(0, wrongReadsOf9);
  EXPECT_EQ(0, wrongReadsOf98);
  EXPECT_EQ(0, stack.LastErrorCode());  // this thread saw no failure
  // Another stack keeps its own record on the same thread.
  errno = ENOTSOCK;
  stack.CheckSocketResult(-1, {ENOTSOCK});
  EXPECT_EQ(0, TIdStackLinux().LastErrorCode());
  EXPECT_EQ(88, stack.LastErrorCode());
}

TEST(IdStack, CreateIPv4SocketRaisesWhenNoSocketIsGiven) {
  TIdStackLinux stack;
  const TIdStackSocketHandle handle = stack.CreateIPv4Socket(SOCK_STREAM, 0);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(0, stack.CloseSocketDescriptor(handle));
  try {
    stack.CreateIPv4Socket(-1, 0);
    FAIL() << "no error raised";
  } catch (const EIdInvalidSocket& error) {
    EXPECT_EQ("Cannot allocate socket.", error.Message());
  }
  EXPECT_EQ(0, stack.LastErrorCode());
}

TEST(IdStack, HostToAddressLooksUpOnlyNamesThatAreNoDottedQuads) {
  TRecordingStack stack;
  for (const char* host : {"localhost", "LocalHost", "LOCALHOST"})
    EXPECT_EQ("127.0.0.1", stack.HostToAddress(host));
  EXPECT_EQ("10.0.0.1", stack.HostToAddress("10.0.0.1"));
  EXPECT_EQ("$7F.0.0.x1", stack.HostToAddress("$7F.0.0.x1"));
  EXPECT_TRUE(stack.Lookups.empty());

  const std::vector<std::string> names = {"10.0.0", "10.0.0.1.2", "256.0.0.1", "a.b.c.d", "-1.0.0.1", ""};
  for (const std::string& name : names) EXPECT_EQ("192.0.2.1", stack.HostToAddress(name));
  EXPECT_EQ(names, stack.Lookups);
}

TEST(IdStack, ParseAddressValueKeepsNetworkOrder) {
  TIdStackLinux stack;
  const uint32_t value = stack.ParseAddressValue("$7F.0.0.1");
  const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
  EXPECT_EQ((std::vector<uint8_t>{127, 0, 0, 1}), std::vector<uint8_t>(bytes, bytes + 4));
  EXPECT_EQ(stack.HostToNetLong(0xC0000201), stack.ParseAddressValue("192.0.2.1"));
}

TEST(IdStack, NewStackMakesALinuxStack) {
  const std::unique_ptr<TIdStack> stack = TIdStack::NewStack();
  EXPECT_NE(nullptr, dynamic_cast<TIdStackLinux*>(stack.get()));
}

}  // namespace
}  // namespace qor
