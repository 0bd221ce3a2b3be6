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

// A program started on a pseudo-terminal of the test's own (80 by 24, TERM=xterm), driven as a
// person at a keyboard would: what the test types arrives as key presses, everything the program
// writes to the terminal (its standard output and error) is collected by a thread of the runner.
// The runner keeps the terminal's other end open, so its settings can be read after the program
// has ended. Destroying a running program kills it. Errors while starting throw std::system_error.
class TerminalProcess {
 public:
  // AEnvironment: "NAME=value" entries added to the test's own environment (replacing a variable
  // of the same name).
  TerminalProcess(const std::string& APath, const std::vector<std::string>& AArgs,
                  const std::vector<std::string>& AEnvironment = {});
  ~TerminalProcess();
  TerminalProcess(const TerminalProcess&) = delete;
  TerminalProcess& operator=(const TerminalProcess&) = delete;

  pid_t Pid() const noexcept { return FPid; }

  // Types AKeys (bytes as the terminal sends them: "\r" for Enter, "\x03" for Ctrl-C, "\x1b[A" for Up).
  void Type(std::string_view AKeys);

  // Waits until AText appears in the output after the end of the text that the last successful call
  // found (the first call searches from the start). False at the time-out or when the program ended
  // without it.
  bool WaitForOutput(std::string_view AText, std::chrono::milliseconds ATimeout);
  // Everything written to the terminal so far.
  std::string Output() const;

  // The terminal's settings, in the form that `stty -g` prints them: now, and before the program
  // started.
  std::string Settings() const;
  const std::string& InitialSettings() const noexcept { return FInitialSettings; }

  // Waits until the program has ended; false when it still runs after ATimeout.
  bool WaitForEnd(std::chrono::milliseconds ATimeout);
  // After the end: the exit status (-1 when a signal ended it), and the signal (0 when it exited).
  int ExitCode() const;
  int Signal() const;

 private:
  void Collect();
  bool Reaped() const;

  UniqueFd FMaster;
  UniqueFd FSlave;  // kept open here, so that the terminal outlives the program
  pid_t FPid = -1;
  std::string FInitialSettings;

  mutable std::mutex FLock;  // guards everything below
  std::condition_variable FChanged;
  std::string FOutput;
  size_t FFound = 0;     // where WaitForOutput searches next
  bool FReaped = false;  // waited for: its id is no longer the program's
  bool FEnded = false;   // reaped and its output collected
  bool FStop = false;
  int FStatus = 0;

  std::thread FThread;
};

}  // namespace qor::test
