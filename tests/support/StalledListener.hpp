#pragma once

#include <cstdint>

#include "support/UniqueFd.hpp"

namespace qor::test {

// A port on 127.0.0.1 where a connect neither succeeds nor fails: the listener never accepts and its
// accept queue is already full (one connection of its own waits in it), so the system drops every
// further SYN and the connecting side keeps retrying until it gives up. For connect time-out tests.
// Errors while setting up throw std::system_error.
class StalledListener {
 public:
  StalledListener();

  static constexpr const char* Host = "127.0.0.1";
  uint16_t Port() const noexcept { return FPort; }

 private:
  UniqueFd FListener;
  UniqueFd FFiller;  // the connection that fills the accept queue
  uint16_t FPort = 0;
};

}  // namespace qor::test
