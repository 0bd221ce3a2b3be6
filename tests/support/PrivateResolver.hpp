#pragma once

#include <functional>
#include <optional>
#include <string>

namespace qor {

// What the child of RunWithPrivateResolver sees besides "hosts: files".
struct TPrivateResolverSetup {
  std::optional<std::string> Hosts;     // the text of /etc/hosts; the machine's file when empty
  std::optional<std::string> HostName;  // this host's name (in a UTS namespace of its own)
  int TimeLimitMs = 30000;              // the child is killed after this long
};

// Runs AFunction where host-name lookups cannot leave the machine, and returns the text it returns.
//
// AFunction runs in a forked child process that has a private mount namespace (unshare(CLONE_NEWNS),
// every mount made private) in which /etc/nsswitch.conf is a file saying "hosts: files". So the
// C library's resolver reads only /etc/hosts (or ASetup.Hosts), never sends a DNS query, and fails
// for an unknown name with "host not found". Nothing changes for the calling process. A caller that is
// not root gets the namespaces inside an unprivileged user namespace of the child's own, in which it is
// root; where the kernel refuses that, the result says so (see QOR_REQUIRE_PRIVATE_NAMESPACE).
//
// The child's result comes back through a pipe. When the set-up fails, AFunction throws, or the child
// dies or runs out of time, the result is a text starting with "PrivateResolver: " that says what
// happened, so that a comparison with the expected text fails visibly. Typical use:
//
//   EXPECT_EQ("1 Host not found.", RunWithPrivateResolver([] {
//     try { stack.LookupHostAddress("nowhere.invalid"); } catch (const EIdSocketError& e) { ... }
//   }));
std::string RunWithPrivateResolver(const std::function<std::string()>& AFunction,
                                   const TPrivateResolverSetup& ASetup = {});

// Empty when this process may make a private mount namespace (as root, or through an unprivileged
// user namespace); else why not. Probed once, in a child.
const std::string& PrivateNamespaceMissing();

// Skips the test, saying why, where no private mount namespace can be made.
#define QOR_REQUIRE_PRIVATE_NAMESPACE()                                                              \
  do {                                                                                               \
    if (!::qor::PrivateNamespaceMissing().empty()) GTEST_SKIP() << ::qor::PrivateNamespaceMissing(); \
  } while (0)

}  // namespace qor
