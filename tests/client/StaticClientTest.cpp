// A client object of static storage duration, connected when the program ends.
#include <gtest/gtest.h>

#include <chrono>

#include "support/LoopbackServer.hpp"
#include "support/ProcessRunner.hpp"

namespace qor {
namespace {

using namespace std::chrono_literals;

TEST(StaticClient, StillConnectedWhenMainReturnsClosesCleanlyAtExit) {
  const test::LoopbackServer server(test::ServerScript().WaitFor("\r\n"));
  const test::ProcessResult result =
      test::RunProcess(QOR_PROGRAM_DIR "/static_client", {std::to_string(server.Port())}, "");
  EXPECT_EQ(result.Signal, 0);  // it used to die of SIGSEGV here, the stack gone before the client
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_EQ(result.Stdout, "connected\n");
  EXPECT_EQ(result.Stderr, "");
  // The client's destructor closed the connection on its way out.
  EXPECT_TRUE(server.WaitForPeerClose(5s));
  EXPECT_EQ(server.Received(), "STILL CONNECTED\r\n");
}

}  // namespace
}  // namespace qor
