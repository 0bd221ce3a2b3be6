#include "qorclnt/runtime/Console.hpp"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "qorclnt/runtime/RuntimeErrors.hpp"
#include "qorclnt/runtime/Sanitized.hpp"
#include "qorclnt/runtime/SendWhole.hpp"

namespace qor {

namespace {

// Bytes read from standard input: those from start on are not handed out yet.
struct InputBuffer {
  std::string pending;
  size_t start = 0;
  size_t scanned = 0;  // bytes from start on already known to hold no LF
  bool ended = false;
  // Where a read lands before it joins pending: here rather than on the stack, so that taking a line
  // does not open a 64 KiB frame every time.
  char chunk[65536];
};

InputBuffer& Input() {
  static InputBuffer input;
  return input;
}

// Writes to standard output. The C library's write is a cancellation point: once the timed connect
// has started its worker thread, each call switches asynchronous cancellation on before the system
// call and off after it, a measurable share of a reply of many short lines. Nothing in this system
// is ever cancelled, so the same system call is made directly, with the same result. Sanitizer
// builds keep the C library's call, which the sanitizers intercept to see the buffer.
ssize_t WriteOut(const char* AData, size_t ALength) {
#ifdef QOR_SANITIZED
  return ::write(STDOUT_FILENO, AData, ALength);
#else
  return static_cast<ssize_t>(::syscall(SYS_write, STDOUT_FILENO, AData, ALength));
#endif
}

}  // namespace

bool ConsoleReadLine(std::string& ALine) {
  InputBuffer& in = Input();
  for (;;) {
    const size_t lf = in.pending.find('\n', in.start + in.scanned);
    if (lf != std::string::npos) {
      const size_t end = lf > in.start && in.pending[lf - 1] == '\r' ? lf - 1 : lf;
      ALine.assign(in.pending, in.start, end - in.start);
      // A line is taken by moving the start; what was handed out goes only before the next read.
      in.start = lf + 1;
      in.scanned = 0;
      return true;
    }
    in.pending.erase(0, in.start);
    in.start = 0;
    in.scanned = in.pending.size();
    if (in.ended) {
      if (in.pending.empty()) return false;
      ALine = std::move(in.pending);
      in.pending.clear();
      in.scanned = 0;
      return true;
    }
    const ssize_t n = ::read(STDIN_FILENO, in.chunk, sizeof in.chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseInOutError(errno);
    }
    if (n == 0) {
      in.ended = true;
    } else {
      in.pending.append(in.chunk, static_cast<size_t>(n));
    }
  }
}

void ConsoleWriteLine(std::string_view AText) {
  std::string line;
  line.reserve(AText.size() + 1);
  line.append(AText);
  line.push_back('\n');
  ConsoleWrite(line);
}

void ConsoleWrite(std::string_view AText) {
  SendWhole(AText.size(), [AText](size_t ADone, size_t ALeft) -> size_t {
    const ssize_t n = WriteOut(AText.data() + ADone, ALeft);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) RaiseInOutError(errno);
    return 0;  // interrupted before any byte went out: written again
  });
}

}  // namespace qor
