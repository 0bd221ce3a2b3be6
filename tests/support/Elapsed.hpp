// Time measured by the tests.
#pragma once

#include <chrono>
#include <cstdint>

namespace qor::test {

// Whole milliseconds since AStart on the steady clock.
int64_t MsSince(std::chrono::steady_clock::time_point AStart);

}  // namespace qor::test
