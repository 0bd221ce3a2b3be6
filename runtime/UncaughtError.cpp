#include "qorclnt/runtime/UncaughtError.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "qorclnt/runtime/RuntimeErrors.hpp"

namespace qor {

namespace {

// The longest report and the longest module name it shows.
constexpr size_t MaxReportLength = 1023;
constexpr size_t MaxModuleNameLength = 4095;

// The report, collected in a fixed block and cut at MaxReportLength characters. It allocates
// nothing, so it can be made after memory has run out.
class TErrorReport {
 public:
  void Append(std::string_view AText) {
    const size_t count = std::min(AText.size(), MaxReportLength - FLength);
    std::memcpy(FText + FLength, AText.data(), count);
    FLength += count;
  }

  // Flushes the error channel, writes the report with one write and ends the process.
  [[noreturn]] void WriteAndExit() const {
    std::fflush(stderr);
    while (::write(STDERR_FILENO, FText, FLength) < 0 && errno == EINTR) {
    }
    std::exit(1);
  }

 private:
  char FText[MaxReportLength];
  size_t FLength = 0;
};

// The module that holds AAddress and the address as the report prints it.
struct TRaiseSite {
  std::string_view Module = "<unknown>";
  uint32_t Address = 0;
};

TRaiseSite LocateRaise(const void* AAddress) {
  TRaiseSite site;
  uintptr_t base = 0;
  Dl_info info{};
  if (AAddress != nullptr && ::dladdr(AAddress, &info) != 0) {
    if (info.dli_fname != nullptr && info.dli_fname[0] != '\0') {
      const char* const slash = std::strrchr(info.dli_fname, '/');
      site.Module = slash != nullptr ? slash + 1 : info.dli_fname;
      site.Module = site.Module.substr(0, MaxModuleNameLength);
    }
    // An offset in the module stays the same under address randomisation; a 32-bit address fits.
    if constexpr (sizeof(void*) > sizeof(uint32_t)) base = reinterpret_cast<uintptr_t>(info.dli_fbase);
  }
  site.Address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(AAddress) - base);
  return site;
}

void BuildReport(const Exception& AError, TErrorReport& AReport) {
  const TRaiseSite site = LocateRaise(AError.RaiseAddress());
  char address[16];
  std::snprintf(address, sizeof address, "%08X", static_cast<unsigned>(site.Address));
  const std::string& message = AError.Message();
  AReport.Append("Exception ");
  AReport.Append(AError.ClassName());
  AReport.Append(" in module ");
  AReport.Append(site.Module);
  AReport.Append(" at ");
  AReport.Append(address);
  AReport.Append(".\n");
  AReport.Append(message);
  if (!message.empty() && message.back() != '.') AReport.Append(".");
  AReport.Append("\n");
}

// A socket opened while descriptor 2 is closed would take its number, and the report would go to
// the peer; /dev/null holds the number instead. Descriptors 0 and 1 stay as they are.
void KeepStandardErrorOpen() {
  if (::fcntl(STDERR_FILENO, F_GETFD) != -1 || errno != EBADF) return;
  const int nullDevice = ::open("/dev/null", O_WRONLY);
  if (nullDevice < 0 || nullDevice == STDERR_FILENO) return;
  ::dup2(nullDevice, STDERR_FILENO);
  ::close(nullDevice);
}

// Runs ABlock; a failure of the C++ runtime leaves it as an error of the runtime's own kinds.
void RunBlock(const std::function<void()>& ABlock) {
  try {
    ABlock();
  } catch (const Exception&) {
    throw;
  } catch (const std::bad_alloc&) {
    RaiseOutOfMemory();
  } catch (const std::exception& AError) {
    Raise(ELibraryError(AError.what()));
  } catch (...) {
    Raise(Exception());
  }
}

}  // namespace

int RunProgram(const std::function<void()>& ABlock) {
  KeepStandardErrorOpen();
  std::setlocale(LC_ALL, "");
  std::signal(SIGPIPE, SIG_IGN);
  TErrorReport report;
  try {
    RunBlock(ABlock);
    return 0;
  } catch (const Exception& AError) {
    BuildReport(AError, report);
  }
  // Written outside the handler, so the error object has been released before the exit.
  report.WriteAndExit();
}

}  // namespace qor
