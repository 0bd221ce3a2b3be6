#include "support/TerminalProcess.hpp"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "support/Posix.hpp"

namespace qor::test {

TerminalProcess::TerminalProcess(const std::string& APath, const std::vector<std::string>& AArgs,
                                 const std::vector<std::string>& AEnvironment) {
  int master = -1;
  int slave = -1;
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 80;
  if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
    ThrowSystemError("openpty");
  }
  FMaster.Reset(master);
  FSlave.Reset(slave);
  FInitialSettings = Settings();

  // Everything the child needs is made before the fork: after it, only async-signal-safe calls.
  std::vector<std::string> args{APath};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  std::vector<std::string> extra{"TERM=xterm"};
  extra.insert(extra.end(), AEnvironment.begin(), AEnvironment.end());
  std::vector<std::string> environment = MergeEnvironment(extra);
  const std::vector<char*> argv = PointersTo(args);
  const std::vector<char*> envp = PointersTo(environment);

  FPid = ::fork();
  if (FPid < 0) ThrowSystemError("fork");
  if (FPid == 0) {
    ::setsid();
    ::ioctl(slave, TIOCSCTTY, 0);
    ::dup2(slave, STDIN_FILENO);
    ::dup2(slave, STDOUT_FILENO);
    ::dup2(slave, STDERR_FILENO);
    if (slave > STDERR_FILENO) ::close(slave);
    ::close(master);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  FThread = std::thread([this] { Collect(); });
}

TerminalProcess::~TerminalProcess() {
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FStop = true;
    if (!FReaped) ::kill(FPid, SIGKILL);
    FChanged.notify_all();
  }
  FThread.join();
}

void TerminalProcess::Collect() {
  for (;;) {
    pollfd entry{FMaster.Get(), POLLIN, 0};
    const int ready = ::poll(&entry, 1, Reaped() ? 0 : 20);
    char chunk[4096];
    const ssize_t n = ready > 0 ? ::read(FMaster.Get(), chunk, sizeof chunk) : 0;
    std::unique_lock<std::mutex> lock(FLock);
    if (n > 0) {
      FOutput.append(chunk, static_cast<size_t>(n));
      FChanged.notify_all();
      continue;
    }
    // Once the program is reaped, the output it left is read to the end before the end is told.
    if (FReaped) {
      FEnded = true;
      FChanged.notify_all();
      FChanged.wait(lock, [this] { return FStop; });
      return;
    }
    int status = 0;
    if (::waitpid(FPid, &status, WNOHANG) == FPid) {
      FStatus = status;
      FReaped = true;
    } else if (FStop) {
      lock.unlock();
      ::waitpid(FPid, &status, 0);
      return;
    }
  }
}

bool TerminalProcess::Reaped() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FReaped;
}

void TerminalProcess::Type(std::string_view AKeys) {
  while (!AKeys.empty()) {
    const ssize_t n = ::write(FMaster.Get(), AKeys.data(), AKeys.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ThrowSystemError("write to the terminal");
    AKeys.remove_prefix(static_cast<size_t>(n));
  }
}

bool TerminalProcess::WaitForOutput(std::string_view AText, std::chrono::milliseconds ATimeout) {
  std::unique_lock<std::mutex> lock(FLock);
  size_t at = std::string::npos;
  FChanged.wait_for(lock, ATimeout, [&] {
    at = FOutput.find(AText, FFound);
    return at != std::string::npos || FEnded;
  });
  if (at == std::string::npos) return false;
  FFound = at + AText.size();
  return true;
}

std::string TerminalProcess::Output() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FOutput;
}

std::string TerminalProcess::Settings() const {
  termios settings{};
  if (::tcgetattr(FSlave.Get(), &settings) != 0) {
    ThrowSystemError("tcgetattr");
  }
  char field[32];
  std::snprintf(field, sizeof field, "%x:%x:%x:%x", settings.c_iflag, settings.c_oflag, settings.c_cflag,
                settings.c_lflag);
  std::string text = field;
  for (const cc_t c : settings.c_cc) {
    std::snprintf(field, sizeof field, ":%x", c);
    text += field;
  }
  return text;
}

bool TerminalProcess::WaitForEnd(std::chrono::milliseconds ATimeout) {
  std::unique_lock<std::mutex> lock(FLock);
  return FChanged.wait_for(lock, ATimeout, [this] { return FEnded; });
}

int TerminalProcess::ExitCode() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FEnded && WIFEXITED(FStatus) ? WEXITSTATUS(FStatus) : -1;
}

int TerminalProcess::Signal() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FEnded && WIFSIGNALED(FStatus) ? WTERMSIG(FStatus) : 0;
}

}  // namespace qor::test
