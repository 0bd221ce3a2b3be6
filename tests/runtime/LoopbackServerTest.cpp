#include "support/LoopbackServer.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "support/Posix.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;

void SendAll(const UniqueFd& AFd, std::string_view ABytes) {
  ASSERT_EQ(::send(AFd.Get(), ABytes.data(), ABytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(ABytes.size()));
}

// Reads until the peer closes or resets (or 5 s pass); AError gets errno of a failed read, else 0.
std::string ReadToEnd(const UniqueFd& AFd, int& AError) {
  std::string result;
  AError = 0;
  for (;;) {
    pollfd p{AFd.Get(), POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1) return result;
    char buffer[4096];
    const ssize_t n = ::recv(AFd.Get(), buffer, sizeof buffer, 0);
    if (n < 0) AError = errno;
    if (n <= 0) return result;
    result.append(buffer, static_cast<size_t>(n));
  }
}

TEST(LoopbackServer, RunsTheScriptAndRecordsWhatArrives) {
  LoopbackServer server(ServerScript()
                            .Send("HELLO\r\n")
                            .WaitFor("\r\n")
                            .Send("ONE\r\n")
                            .WaitFor("\r\n")
                            .Send("TWO\r\n")
                            .Close());
  UniqueFd client = ConnectLoopback(server.Port());
  SendAll(client, "A\r\nB");
  ASSERT_TRUE(server.WaitForReceived("A\r\nB", 5s));
  SendAll(client, "\r\nTAIL");
  int error = 0;
  // The second wait starts after the first line, so it needs the second CR LF.
  EXPECT_EQ(ReadToEnd(client, error), "HELLO\r\nONE\r\nTWO\r\n");
  EXPECT_EQ(error, 0);
  EXPECT_EQ(server.Received(), "A\r\nB\r\nTAIL");
  EXPECT_EQ(server.ConnectionCount(), 1u);
  EXPECT_EQ(server.Received(1), "");
}

TEST(LoopbackServer, ResetReachesThePeerAsConnectionReset) {
  LoopbackServer server(ServerScript().WaitForCount(3).Reset());
  UniqueFd client = ConnectLoopback(server.Port());
  SendAll(client, "abc");
  int error = 0;
  EXPECT_EQ(ReadToEnd(client, error), "");
  EXPECT_EQ(error, ECONNRESET);
}

TEST(LoopbackServer, SilenceDelaysTheNextStep) {
  LoopbackServer server(ServerScript().Silence(300ms).Send("LATE"));
  const auto start = std::chrono::steady_clock::now();
  UniqueFd client = ConnectLoopback(server.Port());
  pollfd p{client.Get(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  char buffer[8];
  EXPECT_EQ(::recv(client.Get(), buffer, sizeof buffer, 0), 4);
}

TEST(LoopbackServer, EachConnectionRunsItsScriptAndLaterOnesTheLast) {
  LoopbackServer server({ServerScript().Send("first").Close(), ServerScript().Send("other").Close()});
  int error = 0;
  for (const char* expected : {"first", "other", "other"}) {
    UniqueFd client = ConnectLoopback(server.Port());
    EXPECT_EQ(ReadToEnd(client, error), expected);
  }
  EXPECT_TRUE(server.WaitForConnections(3, 5s));
}

TEST(LoopbackServer, NotesThePeerCloseAndStopClosesOpenConnections) {
  LoopbackServer server;
  UniqueFd first = ConnectLoopback(server.Port());
  UniqueFd second = ConnectLoopback(server.Port());
  SendAll(first, "bye");
  first.Reset();
  EXPECT_TRUE(server.WaitForPeerClose(5s, 0));
  EXPECT_EQ(server.Received(0), "bye");
  ASSERT_TRUE(server.WaitForConnections(2, 5s));
  EXPECT_FALSE(server.WaitForPeerClose(50ms, 1));
  server.Stop();
  int error = 0;
  EXPECT_EQ(ReadToEnd(second, error), "");
  EXPECT_EQ(error, 0);
  EXPECT_EQ(server.Received(0), "bye");
}

}  // namespace
}  // namespace qor::test
