#pragma once

#include <functional>
#include <memory>

namespace qor::frontend {

// What the program changes while it runs at a terminal, and puts back when it ends: Ctrl-C (SIGINT)
// cancels the running command instead of ending the process, and SIGTERM and SIGHUP restore the
// terminal's settings before they end it as before. Only one session exists at a time.
class TTerminalSession {
 public:
  // True when standard input and standard output are both terminals.
  static bool Available();

  TTerminalSession();
  ~TTerminalSession();
  TTerminalSession(const TTerminalSession&) = delete;
  TTerminalSession& operator=(const TTerminalSession&) = delete;

  // Runs ACommand. A Ctrl-C while it waits (for a connect, a reply, a send) cancels it: at the
  // wait's next idle turn, a tenth of a second at most, ECommandCancelled unwinds it, and this
  // returns false. A Ctrl-C from before the command started does not count.
  bool RunCommand(const std::function<void()>& ACommand);

 private:
  class TCanceller;
  std::unique_ptr<TCanceller> FCanceller;
};

}  // namespace qor::frontend
