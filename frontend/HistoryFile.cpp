#include "qorclnt/frontend/HistoryFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace qor::frontend {

namespace {

// Owns one descriptor of a regular file; anything else (a folder, a FIFO that would block, a
// device) is refused. O_NONBLOCK keeps the open itself from waiting on such a file.
class TRegularFile {
 public:
  TRegularFile(const std::string& APath, int AFlags, mode_t AMode = 0)
      : FFd(::open(APath.c_str(), AFlags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, AMode)) {
    struct stat info {};
    if (FFd >= 0 && (::fstat(FFd, &info) != 0 || !S_ISREG(info.st_mode))) {
      ::close(FFd);
      FFd = -1;
    }
  }
  ~TRegularFile() {
    if (FFd >= 0) ::close(FFd);
  }
  TRegularFile(const TRegularFile&) = delete;
  TRegularFile& operator=(const TRegularFile&) = delete;

  int Fd() const noexcept { return FFd; }

 private:
  int FFd;
};

bool WriteAll(int AFd, const std::string& AData) {
  size_t done = 0;
  while (done < AData.size()) {
    const ssize_t n = ::write(AFd, AData.data() + done, AData.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string HistoryFilePath() {
  if (const char* named = std::getenv("QORCLNT_HISTFILE")) return named;
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return {};
  std::string path = home;
  if (path.back() != '/') path += '/';
  return path + ".qorclnt_history";
}

std::vector<std::string> ReadHistoryFile(const std::string& APath, size_t AMax) {
  std::vector<std::string> lines;
  const TRegularFile file(APath, O_RDONLY);
  if (file.Fd() < 0) return lines;
  std::string data;
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::read(file.Fd(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {};
    if (n == 0) break;
    data.append(chunk, static_cast<size_t>(n));
  }
  for (size_t start = 0; start < data.size();) {
    size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    lines.emplace_back(data, start, end - start);
    start = end + 1;
  }
  if (lines.size() > AMax) lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(AMax));
  return lines;
}

void WriteHistoryFile(const std::string& APath, const std::vector<std::string>& ALines) {
  // No O_TRUNC at the open: a file that turns out not to be a regular one is left as it is.
  const TRegularFile file(APath, O_WRONLY | O_CREAT, S_IRUSR | S_IWUSR);
  if (file.Fd() < 0 || ::ftruncate(file.Fd(), 0) != 0) return;
  std::string data;
  for (const std::string& line : ALines) {
    data += line;
    data += '\n';
  }
  WriteAll(file.Fd(), data);
}

}  // namespace qor::frontend
