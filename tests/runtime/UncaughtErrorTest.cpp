// The uncaught-error report, seen from outside: tests/programs/raise_uncaught lets a chosen error
// escape its program block, and these tests check its standard error, byte for byte, and its exit
// status.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/LoopbackServer.hpp"
#include "support/ProcessRunner.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;

ProcessResult RunRaise(const std::vector<std::string>& AArgs, const ProcessOptions& AOptions = {}) {
  return RunProcess(QOR_PROGRAM_DIR "/raise_uncaught", AArgs, "", AOptions);
}

// Splits a report at its address: the first line up to "at ", the eight digits, and the rest.
struct Report {
  std::string Head;
  std::string Address;
  std::string Tail;
};

Report Split(const std::string& AText) {
  const size_t at = AText.find(" at ");
  if (at == std::string::npos || AText.size() < at + 12) return {AText, "", ""};
  return {AText.substr(0, at + 4), AText.substr(at + 4, 8), AText.substr(at + 12)};
}

bool IsAddress(const std::string& AText) {
  return AText.size() == 8 && std::all_of(AText.begin(), AText.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
         });
}

// Runs the program with AChoice and checks its report: the first line names AClassName and the
// program, and ATail follows the address.
void ExpectReport(const std::string& AChoice, const std::string& AClassName, const std::string& ATail) {
  const ProcessResult outcome = RunRaise({AChoice});
  EXPECT_EQ(outcome.ExitCode, 1) << AChoice;
  EXPECT_EQ(outcome.Stdout, "exit handler ran\n") << AChoice;
  const Report report = Split(outcome.Stderr);
  EXPECT_EQ(report.Head, "Exception " + AClassName + " in module raise_uncaught at ") << AChoice;
  EXPECT_TRUE(IsAddress(report.Address)) << AChoice << ": " << outcome.Stderr;
  EXPECT_EQ(report.Tail, ATail) << AChoice;
}

TEST(UncaughtError, MessageGetsAFullStopUnlessItHasOne) {
  ExpectReport("empty", "EIdException", ".\n\n");
  ExpectReport("timeout", "EIdReadTimeout", ".\nRead Timeout.\n");
  ExpectReport("closed", "EIdConnClosedGracefully", ".\nConnection Closed Gracefully.\n");
}

TEST(UncaughtError, SocketAndResolverErrorsKeepTheirLines) {
  ExpectReport("refused", "EIdSocketError", ".\nSocket Error # 111\r\nConnection refused.\n");
  ExpectReport("resolver", "EIdSocketError", ".\nHost not found.\n");
}

TEST(UncaughtError, FailuresOfTheCppRuntimeBecomeRuntimeKinds) {
  ExpectReport("bad_alloc", "EOutOfMemory", ".\nOut of memory.\n");
  ExpectReport("std", "ELibraryError", ".\nbroken invariant.\n");
  ExpectReport("other", "Exception", ".\n\n");
}

TEST(UncaughtError, TheAddressIsTheRaiseSiteAndTheSameInEveryRun) {
  const std::string first = Split(RunRaise({"timeout"}).Stderr).Address;
  EXPECT_TRUE(IsAddress(first));
  EXPECT_NE(Split(RunRaise({"closed"}).Stderr).Address, first);
  // An offset in the module does not move with address randomisation; a 32-bit build prints the
  // address itself, which does.
  if constexpr (sizeof(void*) == 8) {
    EXPECT_EQ(Split(RunRaise({"timeout"}).Stderr).Address, first);
  }
}

TEST(UncaughtError, ALongReportIsCutTo1023Characters) {
  const ProcessResult outcome = RunRaise({"long"});
  EXPECT_EQ(outcome.ExitCode, 1);
  ASSERT_EQ(outcome.Stderr.size(), 1023u);
  const Report report = Split(outcome.Stderr);
  EXPECT_EQ(report.Head, "Exception EIdException in module raise_uncaught at ");
  ASSERT_EQ(report.Tail.substr(0, 2), ".\n");
  EXPECT_EQ(report.Tail.substr(2), std::string(1023 - report.Head.size() - 8 - 2, 'x'));
}

TEST(UncaughtError, NormalEndWritesNoReport) {
  const ProcessResult outcome = RunRaise({"none"});
  EXPECT_EQ(outcome.ExitCode, 0);
  EXPECT_EQ(outcome.Stderr, "");
  EXPECT_EQ(outcome.Stdout, "exit handler ran\n");
}

TEST(UncaughtError, WithStandardErrorClosedTheReportNeverReachesASocket) {
  // The program connects to the server (its socket takes the lowest free descriptor), then lets an
  // error escape; its exit closes the connection.
  LoopbackServer server;
  const ProcessResult outcome = RunRaise({"socket", std::to_string(server.Port())}, {.CloseStderr = true});
  EXPECT_EQ(outcome.ExitCode, 1);
  EXPECT_EQ(outcome.Stdout, "exit handler ran\n");
  ASSERT_TRUE(server.WaitForPeerClose(5s));
  EXPECT_EQ(server.Received(), "");
}

}  // namespace
}  // namespace qor::test
