// Commands typed at the prompt that need no server.
#include <gtest/gtest.h>

#include "frontend/Transcript.hpp"

namespace qor::test {
namespace {

using namespace transcript;

const std::string PortSet = "< SETTING PORT\n< PORT SET\n";
const std::string PortRefused = "< SETTING PORT\n< ERROR: PORT NOT SET SUCCESSFULLY\n";
const std::string TimeoutSet = "< SETTING TIMEOUT\n< TIMEOUT SET\n";
const std::string TimeoutRefused = "< SETTING TIMEOUT\n< ERROR: TIMEOUT NOT SET SUCCESSFULLY\n";
const std::string HostSet = "< SETTING HOST\n< HOST SET\n";

TEST(Commands, ExitInEveryFormEndsTheRunAndIgnoresItsArgument) {
  for (const char* line : {"EXIT\n", "exit now\n", "E\n", "  e  \n"}) {
    const ProcessResult run = RunClient({}, std::string(line) + "help\n");
    EXPECT_EQ(run.Stdout, Banner + Started + Prompt + Stopping + Stopped) << line;
    EXPECT_EQ(run.ExitCode, 0);
  }
}

TEST(Commands, HelpInEveryFormShowsTheCommands) {
  const ProcessResult run = RunClient({}, "help\nH\nHELP ME\n");
  EXPECT_EQ(run.Stdout, Session("", {Help, Help, Help}));
}

TEST(Commands, PortAndTimeoutFollowTheNumberRule) {
  const ProcessResult run = RunClient({},
                                      "SP 0\nSP -1\nsp abc\nSP 80x\nSP\n"
                                      "SP $1F90\nsp 0X1F90\nSP 65536\n  sp   8080  \n"
                                      "ST 2147483648\nst 2147483647\nsettimeout -5\nSETTIMEOUT 1000\n"
                                      "setport 99\n");
  EXPECT_EQ(run.Stdout,
            Session("", {PortRefused, PortRefused, PortRefused, PortRefused, PortRefused, PortSet, PortSet,
                         PortSet, PortSet, TimeoutRefused, TimeoutSet, TimeoutRefused, TimeoutSet, PortSet}));
}

TEST(Commands, HostIsStoredWithoutAnyCheck) {
  const ProcessResult run = RunClient({}, "SH  myhost\nsethost\nSH nowhere.invalid\n");
  EXPECT_EQ(run.Stdout, Session("", {HostSet, HostSet, HostSet}));
}

TEST(Commands, ALastLineWithoutLineEndIsStillALine) {
  const ProcessResult run = RunClient({}, "help");
  EXPECT_EQ(run.Stdout, Session("", {Help}));
}

TEST(Commands, CarriageReturnsBeforeLineEndsAreNotPartOfTheLine) {
  const ProcessResult run = RunClient({}, "help\r\nexit\r\n");
  EXPECT_EQ(run.Stdout, Banner + Started + Prompt + Help + Prompt + Stopping + Stopped);
}

}  // namespace
}  // namespace qor::test
