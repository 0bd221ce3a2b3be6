#pragma once

#include <netinet/in.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "support/UniqueFd.hpp"

namespace qor::test {

// Small POSIX helpers of the test support (test code may call the system directly; the product goes
// through its socket stack).

// Throws std::system_error for AError (errno by default), naming the call AWhat.
[[noreturn]] void ThrowSystemError(const char* AWhat, int AError = errno);

// The address 127.0.0.1 with port APort.
sockaddr_in LoopbackAddress(uint16_t APort);

// A blocking TCP socket connected to 127.0.0.1:APort; throws std::system_error on failure.
UniqueFd ConnectLoopback(uint16_t APort);

// Adds one to the counter of eventfd AFd, waking whoever polls it.
void SignalEventFd(const UniqueFd& AFd);

// The test's environment with AExtra's "NAME=value" entries added or replacing those of the same name.
std::vector<std::string> MergeEnvironment(const std::vector<std::string>& AExtra);

// The null-terminated array of pointers into AStrings that exec and spawn take (argv, envp).
std::vector<char*> PointersTo(std::vector<std::string>& AStrings);

}  // namespace qor::test
