#include "support/ProcStat.hpp"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace qor::test {

using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {

std::string ReadFile(const std::string& APath) {
  std::ifstream in(APath);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Entries of a /proc folder other than "." and "..".
size_t CountEntries(const std::string& APath) {
  DIR* const folder = ::opendir(APath.c_str());
  if (folder == nullptr) return 0;
  size_t count = 0;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") ++count;
  }
  ::closedir(folder);
  return count;
}

microseconds CpuTimeOf(int AWho) {
  rusage usage{};
  ::getrusage(AWho, &usage);
  const auto toMicro = [](const timeval& A) { return microseconds(A.tv_sec * 1000000LL + A.tv_usec); };
  return toMicro(usage.ru_utime) + toMicro(usage.ru_stime);
}

}  // namespace

milliseconds ProcessCpuTime(pid_t APid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(APid) + "/stat");
  // The command name in parentheses may hold spaces; the fields after it start with the state (3rd).
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return milliseconds(-1);
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int i = 3; i < 14 && fields >> field; ++i) {
  }
  long long user = -1, system = -1;  // fields 14 and 15, in clock ticks
  if (!(fields >> user >> system)) return milliseconds(-1);
  return milliseconds((user + system) * 1000 / ::sysconf(_SC_CLK_TCK));
}

int64_t PeakResidentKiB(pid_t APid) {
  std::istringstream status(ReadFile("/proc/" + std::to_string(APid) + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
  }
  return -1;
}

size_t OpenDescriptorCount() {
  const size_t entries = CountEntries("/proc/self/fd");
  return entries > 0 ? entries - 1 : 0;  // the listing's own descriptor
}

size_t OpenDescriptorCount(pid_t APid) {
  return CountEntries("/proc/" + std::to_string(APid) + "/fd");
}

size_t ThreadCount() {
  return CountEntries("/proc/self/task");
}

size_t ThreadCount(pid_t APid) {
  return CountEntries("/proc/" + std::to_string(APid) + "/task");
}

microseconds ThreadCpuTime() {
  return CpuTimeOf(RUSAGE_THREAD);
}

microseconds SelfCpuTime() {
  return CpuTimeOf(RUSAGE_SELF);
}

}  // namespace qor::test
