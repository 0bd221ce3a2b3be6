#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/UniqueFd.hpp"

namespace qor::test {

// How a child process starts.
struct ProcessOptions {
  // The child is killed (SIGKILL) when it runs longer than this; the result says so.
  std::chrono::milliseconds TimeLimit{30000};
  // Standard output goes to /dev/full, so every write to it fails (ENOSPC).
  bool StdoutToDevFull = false;
  // The child starts with that descriptor closed.
  bool CloseStdin = false;
  bool CloseStdout = false;
  bool CloseStderr = false;
  // "NAME=value" entries added to the test's own environment (replacing a variable of the same name).
  std::vector<std::string> Environment{};
  // The child runs in a private mount namespace whose /etc/nsswitch.conf says "hosts: files", so an
  // unknown host name (use one ending in .invalid) fails without a DNS query leaving the machine.
  // A normal user gets it inside an unprivileged user namespace; QOR_REQUIRE_PRIVATE_NAMESPACE
  // (support/PrivateResolver.hpp) skips a test where the kernel refuses that.
  bool PrivateHostLookup = false;
};

// How a child process ended and everything it wrote.
struct ProcessResult {
  std::string Stdout;
  std::string Stderr;
  int ExitCode = -1;      // the exit status when it exited, else -1
  int Signal = 0;         // the signal that ended it, else 0
  bool TimedOut = false;  // killed at the time limit
  // CPU time (user and system) the child used, with its own children that it waited for.
  std::chrono::microseconds CpuTime{0};
};

// A program started with pipes on its standard streams. A thread of the runner feeds what the test
// writes to the child's standard input and collects standard output and error as they come, so the
// child never blocks on a full pipe, and it kills the child at the time limit even while the test
// looks elsewhere. Destroying a running child kills it. Errors while starting throw std::system_error.
//
//   ChildProcess child(QOR_CLIENT_PATH, {"-SH", "127.0.0.1"});
//   ASSERT_TRUE(child.WaitForStdout("> ", 5s));
//   child.Write("EXIT\n");
//   ProcessResult result = child.Wait();
class ChildProcess {
 public:
  ChildProcess(const std::string& APath, const std::vector<std::string>& AArgs, ProcessOptions AOptions = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const noexcept { return FPid; }

  // Queues ABytes for the child's standard input; they are written as the child reads them. Bytes the
  // child no longer takes (it closed its input or ended) are dropped.
  void Write(std::string_view ABytes);
  // Closes the child's standard input once everything written before has been handed over.
  void CloseStdin();
  // Stops reading the child's standard output and closes the reading end, as a reader that exits
  // early would: the child's next write to it fails (EPIPE, or SIGPIPE where not ignored). What was
  // read before stays in Stdout().
  void CloseStdoutReader();

  // Waits until AText appears in standard output after the end of the text that the last successful
  // call found (the first call searches from the start), so successive calls follow the dialogue.
  // False at the time-out, or when the child's output ended without it.
  bool WaitForStdout(std::string_view AText, std::chrono::milliseconds ATimeout);

  // What the child wrote so far.
  std::string Stdout() const;
  std::string Stderr() const;

  // Waits until the child has ended (killing it at the time limit) and its output is collected.
  ProcessResult Wait();
  // Waits at most ATimeout for the same; false when the child is still running (or writing) then.
  bool WaitForEnd(std::chrono::milliseconds ATimeout);

 private:
  bool PumpOnce(UniqueFd& AStdin, UniqueFd& AStdout, UniqueFd& AStderr);
  void Reap();

  ProcessOptions FOptions;
  pid_t FPid = -1;
  UniqueFd FPidFd;  // readable when the child has ended
  UniqueFd FWake;   // eventfd: the test queued input or wants the child gone
  std::chrono::steady_clock::time_point FDeadline;
  bool FKilled = false;  // used by the runner's thread only

  mutable std::mutex FLock;  // guards everything below
  mutable std::condition_variable FChanged;
  std::string FInput;  // not yet written to the child
  bool FCloseInput = false;
  bool FCloseOutput = false;
  bool FKill = false;
  size_t FStdoutFound = 0;  // where WaitForStdout searches next
  bool FOutputEnded = false;
  bool FDone = false;  // reaped and output collected
  ProcessResult FResult;

  std::thread FThread;
};

// Starts APath with AArgs, writes AInput to its standard input and closes it, and waits for the end.
ProcessResult RunProcess(const std::string& APath, const std::vector<std::string>& AArgs,
                         std::string_view AInput, ProcessOptions AOptions = {});

}  // namespace qor::test
