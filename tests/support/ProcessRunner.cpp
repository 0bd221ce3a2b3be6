#include "support/ProcessRunner.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <stdexcept>

#include "support/Posix.hpp"

namespace qor::test {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

// A pipe whose ends close on exec; the child gets its end through a dup2.
struct TPipe {
  UniqueFd Read, Write;
};

TPipe MakePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) ThrowSystemError("pipe2");
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

void SetNonBlocking(const UniqueFd& AFd) {
  ::fcntl(AFd.Get(), F_SETFL, ::fcntl(AFd.Get(), F_GETFL) | O_NONBLOCK);
}

// posix_spawn's attribute and file action objects, destroyed on every path.
struct TSpawnSetup {
  posix_spawn_file_actions_t Actions;
  posix_spawnattr_t Attributes;
  TSpawnSetup() {
    ::posix_spawn_file_actions_init(&Actions);
    ::posix_spawnattr_init(&Attributes);
  }
  ~TSpawnSetup() {
    ::posix_spawn_file_actions_destroy(&Actions);
    ::posix_spawnattr_destroy(&Attributes);
  }
  TSpawnSetup(const TSpawnSetup&) = delete;
  TSpawnSetup& operator=(const TSpawnSetup&) = delete;
};

// Reads what is there; false at the end of the stream (the descriptor is then closed).
bool Drain(UniqueFd& AFd, std::string& AInto) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(AFd.Get(), buffer, sizeof buffer);
    if (n > 0) {
      AInto.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    AFd.Reset();
    return false;
  }
}

}  // namespace

ChildProcess::ChildProcess(const std::string& APath, const std::vector<std::string>& AArgs,
                           ProcessOptions AOptions)
    : FOptions(std::move(AOptions)) {
  TPipe in, out, err;
  TSpawnSetup setup;
  if (FOptions.CloseStdin) {
    ::posix_spawn_file_actions_addclose(&setup.Actions, 0);
  } else {
    in = MakePipe();
    ::posix_spawn_file_actions_adddup2(&setup.Actions, in.Read.Get(), 0);
  }
  if (FOptions.CloseStdout) {
    ::posix_spawn_file_actions_addclose(&setup.Actions, 1);
  } else if (FOptions.StdoutToDevFull) {
    ::posix_spawn_file_actions_addopen(&setup.Actions, 1, "/dev/full", O_WRONLY, 0);
  } else {
    out = MakePipe();
    ::posix_spawn_file_actions_adddup2(&setup.Actions, out.Write.Get(), 1);
  }
  if (FOptions.CloseStderr) {
    ::posix_spawn_file_actions_addclose(&setup.Actions, 2);
  } else {
    err = MakePipe();
    ::posix_spawn_file_actions_adddup2(&setup.Actions, err.Write.Get(), 2);
  }
  // The child starts with no signal blocked and every signal at its default action, whatever the
  // test process did to its own.
  sigset_t signals;
  ::sigemptyset(&signals);
  ::posix_spawnattr_setsigmask(&setup.Attributes, &signals);
  ::sigfillset(&signals);
  ::posix_spawnattr_setsigdefault(&setup.Attributes, &signals);
  ::posix_spawnattr_setflags(&setup.Attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> argv;
  if (FOptions.PrivateHostLookup) {
    // A normal user gets the mount namespace inside a user namespace of its own, in which it is root.
    argv = {"/usr/bin/unshare", "--mount"};
    if (::geteuid() != 0) argv.insert(argv.end(), {"--user", "--map-root-user"});
    argv.insert(argv.end(), {"--", "/bin/sh", "-c", R"(mount --bind "$0" /etc/nsswitch.conf && exec "$@")",
                             QOR_HOSTS_FILES_NSSWITCH});
  }
  argv.push_back(APath);
  argv.insert(argv.end(), AArgs.begin(), AArgs.end());
  std::vector<std::string> envp = MergeEnvironment(FOptions.Environment);
  const int failed = ::posix_spawn(&FPid, argv.front().c_str(), &setup.Actions, &setup.Attributes,
                                   PointersTo(argv).data(), PointersTo(envp).data());
  if (failed != 0) ThrowSystemError("posix_spawn", failed);
  FDeadline = steady_clock::now() + FOptions.TimeLimit;
  // Through syscall: the C library's header for pidfd_open cannot be used from C++ here.
  FPidFd.Reset(static_cast<int>(::syscall(SYS_pidfd_open, FPid, 0)));
  FWake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!FPidFd.Valid() || !FWake.Valid()) {
    const int error = errno;
    ::kill(FPid, SIGKILL);
    Reap();
    ThrowSystemError("pidfd_open/eventfd", error);
  }
  FOutputEnded = !out.Read.Valid();
  for (const UniqueFd* fd : {&in.Write, &out.Read, &err.Read}) {
    if (fd->Valid()) SetNonBlocking(*fd);
  }
  FThread = std::thread(
      [this, in = std::move(in.Write), out = std::move(out.Read), err = std::move(err.Read)]() mutable {
        // A write to a child that stopped reading must fail with EPIPE, not kill the tests.
        sigset_t pipe;
        ::sigemptyset(&pipe);
        ::sigaddset(&pipe, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        while (PumpOnce(in, out, err)) {
        }
        std::lock_guard guard(FLock);
        FDone = true;
        FChanged.notify_all();
      });
}

ChildProcess::~ChildProcess() {
  if (!FThread.joinable()) return;
  {
    std::lock_guard guard(FLock);
    FKill = true;
  }
  SignalEventFd(FWake);
  FThread.join();
}

// One round of the runner's thread: waits for the child, its pipes, the test or the time limit, and
// handles what happened. False when everything is over.
bool ChildProcess::PumpOnce(UniqueFd& AStdin, UniqueFd& AStdout, UniqueFd& AStderr) {
  const bool reaped = FResult.ExitCode >= 0 || FResult.Signal != 0;
  const auto now = steady_clock::now();
  bool inputPending;
  {
    std::lock_guard guard(FLock);
    if (reaped && (!AStdout.Valid() && !AStderr.Valid())) return false;
    // Past the time limit, or when the child is to go, what still holds the pipes open is not waited for.
    if (reaped && (FKill || now >= FDeadline)) return false;
    if (!reaped && !FKilled && (FKill || now >= FDeadline)) {
      FResult.TimedOut = !FKill;
      ::kill(FPid, SIGKILL);
      FKilled = true;
    }
    if (!AStdin.Valid()) FInput.clear();
    inputPending = !FInput.empty();
    if (!inputPending && FCloseInput) AStdin.Reset();
    if (FCloseOutput && AStdout.Valid()) {
      AStdout.Reset();
      FOutputEnded = true;
    }
  }
  pollfd fds[] = {{FWake.Get(), POLLIN, 0},
                  {inputPending ? AStdin.Get() : -1, POLLOUT, 0},
                  {AStdout.Get(), POLLIN, 0},
                  {AStderr.Get(), POLLIN, 0},
                  {reaped ? -1 : FPidFd.Get(), POLLIN, 0}};
  // Once killed, the child's end is waited for without a limit: it comes at once.
  const auto left = std::chrono::ceil<milliseconds>(FDeadline - now).count();
  const int timeout = FKilled ? -1 : static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
  if (::poll(fds, std::size(fds), timeout) < 0) return errno == EINTR;
  if (fds[0].revents != 0) {
    uint64_t count;
    [[maybe_unused]] const ssize_t n = ::read(FWake.Get(), &count, sizeof count);
  }
  std::lock_guard guard(FLock);
  if (fds[1].revents != 0) {
    const ssize_t n = ::write(AStdin.Get(), FInput.data(), FInput.size());
    if (n > 0) FInput.erase(0, static_cast<size_t>(n));
    if (n < 0 && errno != EAGAIN && errno != EINTR) AStdin.Reset();  // the child no longer reads
  }
  if (fds[2].revents != 0 && !Drain(AStdout, FResult.Stdout)) FOutputEnded = true;
  if (fds[3].revents != 0) Drain(AStderr, FResult.Stderr);
  if (fds[4].revents != 0) Reap();
  FChanged.notify_all();
  return true;
}

void ChildProcess::Reap() {
  int status = 0;
  rusage usage{};
  while (::wait4(FPid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) FResult.ExitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) FResult.Signal = WTERMSIG(status);
  for (const timeval& time : {usage.ru_utime, usage.ru_stime}) {
    FResult.CpuTime += std::chrono::seconds(time.tv_sec) + std::chrono::microseconds(time.tv_usec);
  }
}

void ChildProcess::Write(std::string_view ABytes) {
  {
    std::lock_guard guard(FLock);
    if (FCloseInput || FOptions.CloseStdin)
      throw std::logic_error("ChildProcess::Write after its input was closed");
    FInput.append(ABytes);
  }
  SignalEventFd(FWake);
}

void ChildProcess::CloseStdin() {
  {
    std::lock_guard guard(FLock);
    FCloseInput = true;
  }
  SignalEventFd(FWake);
}

void ChildProcess::CloseStdoutReader() {
  {
    std::lock_guard guard(FLock);
    FCloseOutput = true;
  }
  SignalEventFd(FWake);
}

bool ChildProcess::WaitForStdout(std::string_view AText, milliseconds ATimeout) {
  std::unique_lock lock(FLock);
  size_t at = std::string::npos;
  // Each search starts where a match could still begin, so a long output is scanned once.
  size_t from = FStdoutFound;
  FChanged.wait_for(lock, ATimeout, [&] {
    const std::string& out = FResult.Stdout;
    at = out.find(AText, from);
    if (out.size() >= from + AText.size()) from = out.size() - AText.size() + 1;
    return at != std::string::npos || FOutputEnded || FDone;
  });
  if (at == std::string::npos) return false;
  FStdoutFound = at + AText.size();
  return true;
}

std::string ChildProcess::Stdout() const {
  std::lock_guard guard(FLock);
  return FResult.Stdout;
}

std::string ChildProcess::Stderr() const {
  std::lock_guard guard(FLock);
  return FResult.Stderr;
}

ProcessResult ChildProcess::Wait() {
  if (FThread.joinable()) FThread.join();  // the thread ends once the child is reaped and its output read
  return FResult;
}

bool ChildProcess::WaitForEnd(milliseconds ATimeout) {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, ATimeout, [&] { return FDone; });
}

ProcessResult RunProcess(const std::string& APath, const std::vector<std::string>& AArgs,
                         std::string_view AInput, ProcessOptions AOptions) {
  const bool closed = AOptions.CloseStdin;
  ChildProcess child(APath, AArgs, std::move(AOptions));
  if (!closed) {
    child.Write(AInput);
    child.CloseStdin();
  }
  return child.Wait();
}

}  // namespace qor::test
