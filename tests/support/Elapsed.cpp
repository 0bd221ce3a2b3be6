#include "support/Elapsed.hpp"

namespace qor::test {

int64_t MsSince(std::chrono::steady_clock::time_point AStart) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - AStart)
      .count();
}

}  // namespace qor::test
