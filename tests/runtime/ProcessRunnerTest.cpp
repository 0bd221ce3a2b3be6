#include "support/ProcessRunner.hpp"

#include <gtest/gtest.h>

#include <csignal>

#include "support/PrivateResolver.hpp"

namespace qor::test {
namespace {

using namespace std::chrono_literals;

TEST(ProcessRunner, FollowsAnInteractiveDialogue) {
  ChildProcess child("/bin/cat", {});
  child.Write("one\n");
  ASSERT_TRUE(child.WaitForStdout("one\n", 5s));
  child.Write("two\n");
  ASSERT_TRUE(child.WaitForStdout("two\n", 5s));
  child.CloseStdin();
  // The search goes on after "two\n", so an earlier text is not found again once the output ended.
  EXPECT_FALSE(child.WaitForStdout("one", 5s));
  const ProcessResult result = child.Wait();
  EXPECT_EQ(result.Stdout, "one\ntwo\n");
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_FALSE(result.TimedOut);
}

TEST(ProcessRunner, ReportsExitStatusStandardErrorAndEnvironment) {
  const ProcessResult result = RunProcess("/bin/sh", {"-c", "echo \"$QOR_PROBE\" >&2; exit 3"}, "",
                                          {.Environment = {"QOR_PROBE=set"}});
  EXPECT_EQ(result.ExitCode, 3);
  EXPECT_EQ(result.Signal, 0);
  EXPECT_EQ(result.Stderr, "set\n");
  EXPECT_EQ(result.Stdout, "");
}

TEST(ProcessRunner, KillsAChildAtTheTimeLimit) {
  const auto start = std::chrono::steady_clock::now();
  // The shell's own child keeps the pipes open after the shell is killed.
  const ProcessResult result = RunProcess("/bin/sh", {"-c", "sleep 30; echo done"}, "", {.TimeLimit = 300ms});
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(result.TimedOut);
  EXPECT_EQ(result.Signal, SIGKILL);
  EXPECT_EQ(result.ExitCode, -1);
  EXPECT_GE(elapsed, 300ms);
  EXPECT_LT(elapsed, 5s);
}

TEST(ProcessRunner, SurvivesAChildThatDoesNotReadItsInput) {
  const ProcessResult result = RunProcess("/bin/true", {}, std::string(1 << 20, 'x'));
  EXPECT_EQ(result.ExitCode, 0);
  ChildProcess running("/bin/cat", {});  // destroyed while it still runs: killed and reaped
}

TEST(ProcessRunner, SetsUpTheChildsStandardStreams) {
  ProcessResult result = RunProcess("/bin/echo", {"x"}, "", {.StdoutToDevFull = true});
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_NE(result.Stderr.find("No space left on device"), std::string::npos) << result.Stderr;

  result = RunProcess("/bin/echo", {"x"}, "", {.CloseStdout = true});
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_NE(result.Stderr.find("Bad file descriptor"), std::string::npos) << result.Stderr;

  result = RunProcess("/bin/cat", {}, "", {.CloseStdin = true});
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_NE(result.Stderr.find("Bad file descriptor"), std::string::npos) << result.Stderr;

  result = RunProcess("/bin/sh", {"-c", "if echo x >&2; then echo written; else echo failed; fi"}, "",
                      {.CloseStderr = true});
  EXPECT_EQ(result.Stdout, "failed\n");
}

TEST(ProcessRunner, PrivateHostLookupReadsOnlyTheHostsFile) {
  QOR_REQUIRE_PRIVATE_NAMESPACE();
  const ProcessOptions options{.PrivateHostLookup = true};
  ProcessResult result = RunProcess("/bin/cat", {"/etc/nsswitch.conf"}, "", options);
  EXPECT_EQ(result.Stdout, "hosts: files\n") << result.Stderr;
  result = RunProcess("/usr/bin/getent", {"hosts", "localhost"}, "", options);
  EXPECT_EQ(result.ExitCode, 0) << result.Stderr;
  result = RunProcess("/usr/bin/getent", {"hosts", "nosuch.invalid"}, "", options);
  EXPECT_EQ(result.ExitCode, 2);  // not found
}

}  // namespace
}  // namespace qor::test
