#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "support/UniqueFd.hpp"

namespace qor::test {

// True when a socket can be bound to ::1 here (IPv6 may be switched off on a test machine).
bool CanBindIpv6Loopback();

// Skips the test, saying why, when ::1 cannot be bound.
#define QOR_REQUIRE_IPV6()                                                                  \
  if (!::qor::test::CanBindIpv6Loopback()) {                                                \
    GTEST_SKIP() << "::1 cannot be bound on this machine (IPv6 loopback is not available)"; \
  }

// A TCP socket bound to [::1]:APort (0: the system's choice), IPv6 only, listening with ABacklog
// unless that is negative (a connect to one that does not listen is refused). Invalid on failure.
UniqueFd BoundSocket6(uint16_t APort = 0, int ABacklog = -1);

// The local port of a bound socket of either family.
uint16_t BoundPort(const UniqueFd& ASocket);

}  // namespace qor::test
