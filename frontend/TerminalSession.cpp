#include "qorclnt/frontend/TerminalSession.hpp"

#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "qorclnt/connection/IdAntiFreezeBase.hpp"
#include "qorclnt/frontend/Commands.hpp"

namespace qor::frontend {

namespace {

// Set by the SIGINT handler, taken by the next idle turn of a waiting command. A lock-free atomic is
// safe to store from a signal handler.
std::atomic<bool> Interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// The terminal's settings from the start of the session, for the handlers of the signals that end
// the process. Written before those handlers are installed and never after.
termios StartSettings{};

// The signals the session takes over, with what they did before.
constexpr int HandledSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction PreviousActions[std::size(HandledSignals)];

void OnInterrupt(int) {
  Interrupted.store(true);
}

// Installed with SA_RESETHAND: the signal, raised again, ends the process as it would have, once
// the terminal is as it was. Both calls are async-signal-safe.
void OnEnd(int ASignal) {
  ::tcsetattr(STDIN_FILENO, TCSANOW, &StartSettings);
  ::raise(ASignal);
}

}  // namespace

// The idle hook of the client stack's waits: a turn after a Ctrl-C raises ECommandCancelled, which
// unwinds the wait (a connect worker is stopped and joined on the way).
class TTerminalSession::TCanceller final : public TIdAntiFreezeBase {
 public:
  TCanceller() : TIdAntiFreezeBase(nullptr) {
    IdleTimeOut = 100;
    OnlyWhenIdle = false;  // a reply that keeps coming can be cancelled too
  }
  void ProcessIdle() override {
    if (Interrupted.exchange(false)) Raise(ECommandCancelled("Command cancelled"));
  }
};

bool TTerminalSession::Available() {
  return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1;
}

TTerminalSession::TTerminalSession() : FCanceller(std::make_unique<TCanceller>()) {
  ::tcgetattr(STDIN_FILENO, &StartSettings);
  Interrupted.store(false);
  for (size_t i = 0; i < std::size(HandledSignals); ++i) {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    if (HandledSignals[i] == SIGINT) {
      // Calls that the signal breaks go on where they can (a blocked send); the waits resume by
      // themselves, and their next idle turn sees the flag.
      action.sa_handler = &OnInterrupt;
      action.sa_flags = SA_RESTART;
    } else {
      action.sa_handler = &OnEnd;
      action.sa_flags = SA_RESETHAND;
    }
    ::sigaction(HandledSignals[i], &action, &PreviousActions[i]);
  }
}

TTerminalSession::~TTerminalSession() {
  for (size_t i = 0; i < std::size(HandledSignals); ++i) {
    ::sigaction(HandledSignals[i], &PreviousActions[i], nullptr);
  }
  ::tcsetattr(STDIN_FILENO, TCSADRAIN, &StartSettings);
}

bool TTerminalSession::RunCommand(const std::function<void()>& ACommand) {
  Interrupted.store(false);
  try {
    ACommand();
  } catch (const ECommandCancelled&) {
    return false;
  }
  return true;
}

}  // namespace qor::frontend
