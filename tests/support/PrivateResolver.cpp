#include "PrivateResolver.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <vector>

#include "UniqueFd.hpp"

namespace qor {

namespace {

constexpr char Prefix[] = "PrivateResolver: ";

bool WriteAll(int AHandle, const std::string& AText) {
  size_t done = 0;
  while (done < AText.size()) {
    const ssize_t n = ::write(AHandle, AText.data() + done, AText.size() - done);
    if (n == -1 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A temporary file with the given text, removed with its owner.
class TTempFile {
 public:
  explicit TTempFile(const std::string& AText) {
    char name[] = "/tmp/qor-resolver-XXXXXX";
    const test::UniqueFd file(::mkstemp(name));
    if (file.Get() == -1) return;
    FName = name;
    FValid = WriteAll(file.Get(), AText);
  }
  ~TTempFile() {
    if (!FName.empty()) ::unlink(FName.c_str());
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  bool Valid() const noexcept { return FValid; }
  const char* Name() const noexcept { return FName.c_str(); }

 private:
  std::string FName;
  bool FValid = false;
};

std::string SystemFailure(const char* AStep) {
  return std::string(Prefix) + AStep + ": " + std::strerror(errno);
}

bool WriteFile(const char* APath, const std::string& AText) {
  const test::UniqueFd file(::open(APath, O_WRONLY | O_CLOEXEC));
  return file.Get() != -1 && WriteAll(file.Get(), AText);
}

// In the child: a user namespace of its own in which the caller is root, so that a normal user may
// make the namespaces that follow. Only for a caller that is not root already.
std::string EnterUserNamespace() {
  const std::string uid = std::to_string(::geteuid());
  const std::string gid = std::to_string(::getegid());
  if (::unshare(CLONE_NEWUSER) != 0) return SystemFailure("unshare(CLONE_NEWUSER)");
  // Writing gid_map needs setgroups denied first.
  if (!WriteFile("/proc/self/setgroups", "deny") || !WriteFile("/proc/self/uid_map", "0 " + uid + " 1") ||
      !WriteFile("/proc/self/gid_map", "0 " + gid + " 1")) {
    return SystemFailure("user namespace maps");
  }
  return {};
}

// In the child: the private namespace and files. An empty text when all went well.
std::string EnterPrivateResolver(const TTempFile& ANsswitch, const TTempFile* AHosts,
                                 const TPrivateResolverSetup& ASetup) {
  if (::geteuid() != 0) {
    std::string failure = EnterUserNamespace();
    if (!failure.empty()) return failure;
  }
  const int flags = CLONE_NEWNS | (ASetup.HostName ? CLONE_NEWUTS : 0);
  if (::unshare(flags) != 0) return SystemFailure("unshare");
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return SystemFailure("private mounts");
  if (::mount(ANsswitch.Name(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) != 0) {
    return SystemFailure("bind /etc/nsswitch.conf");
  }
  if (AHosts != nullptr && ::mount(AHosts->Name(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
    return SystemFailure("bind /etc/hosts");
  }
  if (ASetup.HostName && ::sethostname(ASetup.HostName->data(), ASetup.HostName->size()) != 0) {
    return SystemFailure("sethostname");
  }
  return {};
}

[[noreturn]] void RunChild(int AOutput, const std::function<std::string()>& AFunction,
                           const TTempFile& ANsswitch, const TTempFile* AHosts,
                           const TPrivateResolverSetup& ASetup) {
  std::string result = EnterPrivateResolver(ANsswitch, AHosts, ASetup);
  if (result.empty()) {
    try {
      result = AFunction();
    } catch (const std::exception& error) {
      result = std::string(Prefix) + "the function threw: " + error.what();
    } catch (...) {
      result = std::string(Prefix) + "the function threw";
    }
  }
  // _exit: the child must not run the parent's exit handlers (the test framework's among them).
  ::_exit(WriteAll(AOutput, result) ? 0 : 1);
}

// Reads the child's whole output, or gives up at ADeadline.
bool ReadUntilEnd(int AInput, std::chrono::steady_clock::time_point ADeadline, std::string& VText) {
  char buffer[4096];
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(ADeadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd record{AInput, POLLIN, 0};
    const int ready = ::poll(&record, 1, static_cast<int>(left.count()));
    if (ready == -1 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = ::read(AInput, buffer, sizeof buffer);
    if (n == -1 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    VText.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace

std::string RunWithPrivateResolver(const std::function<std::string()>& AFunction,
                                   const TPrivateResolverSetup& ASetup) {
  const TTempFile nsswitch("hosts: files\n");
  const std::optional<TTempFile> hosts =
      ASetup.Hosts ? std::make_optional<TTempFile>(*ASetup.Hosts) : std::nullopt;
  if (!nsswitch.Valid() || (hosts && !hosts->Valid())) return SystemFailure("temporary file");
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return SystemFailure("pipe");
  test::UniqueFd input(ends[0]);
  test::UniqueFd output(ends[1]);

  const pid_t child = ::fork();
  if (child == -1) return SystemFailure("fork");
  if (child == 0) RunChild(output.Get(), AFunction, nsswitch, hosts ? &*hosts : nullptr, ASetup);
  output.Reset();  // so that the pipe ends when the child does

  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ASetup.TimeLimitMs);
  const bool complete = ReadUntilEnd(input.Get(), deadline, text);
  if (!complete) ::kill(child, SIGKILL);
  int status = 0;
  while (::waitpid(child, &status, 0) == -1 && errno == EINTR) {
  }
  if (!complete) return std::string(Prefix) + "the child ran out of time";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return std::string(Prefix) + "the child ended with status " + std::to_string(status);
  }
  return text;
}

const std::string& PrivateNamespaceMissing() {
  static const std::string reason = [] {
    const std::string failure = RunWithPrivateResolver([] { return std::string(); });
    // The kernel refuses a user namespace inside a chroot, and where it is configured not to.
    return failure.empty()
               ? failure
               : "no private mount namespace here (" + failure +
                     "; a normal user needs user namespaces, which a chroot or the kernel's settings forbid)";
  }();
  return reason;
}

}  // namespace qor
