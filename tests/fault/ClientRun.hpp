#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "frontend/Transcript.hpp"
#include "support/LoopbackServer.hpp"
#include "support/ProcessRunner.hpp"

// Running the built client against hostile peers: its arguments, and what every run must show.
namespace qor::test::fault {

// The client's arguments for AServer's port, and the lines they write.
inline std::vector<std::string> PortArgs(uint16_t APort) {
  return {"-SP", std::to_string(APort)};
}
inline const std::string PortLines = "\n< SETTING PORT\n< PORT SET\n\n";

// The end of a reply and the prompt after it.
inline const std::string ReplyEnd = "< COMMAND QUOTED\n" + transcript::Prompt;

// A run that ended by itself within its time limit, with exit status AExit, having used less than
// ACpuCeiling of CPU time.
inline void ExpectEnded(const ProcessResult& ARun, int AExit, std::chrono::milliseconds ACpuCeiling) {
  EXPECT_FALSE(ARun.TimedOut);
  EXPECT_EQ(ARun.Signal, 0);
  EXPECT_EQ(ARun.ExitCode, AExit);
  EXPECT_LT(ARun.CpuTime, ACpuCeiling);
}

}  // namespace qor::test::fault
