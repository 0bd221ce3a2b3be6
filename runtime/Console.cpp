#include "qorclnt/runtime/Console.hpp"

#include <unistd.h>

#include <cerrno>

#include "qorclnt/runtime/DirectCalls.hpp"
#include "qorclnt/runtime/RuntimeErrors.hpp"

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
    const ssize_t n = DirectRead(STDIN_FILENO, in.chunk, sizeof in.chunk);
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
  const char* data = AText.data();
  size_t length = AText.size();
  while (length > 0) {
    const ssize_t n = DirectWrite(STDOUT_FILENO, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseInOutError(errno);
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
}

}  // namespace qor
