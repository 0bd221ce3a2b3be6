#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace qor::test {

// A hard time limit for a test that runs the library in its own process: when the scope holding the
// watchdog is still running after ALimit, the test program says so on standard error and aborts, so a
// hang fails at once and by name. It keeps one thread of its own while it lives.
class Watchdog {
 public:
  Watchdog(std::chrono::milliseconds ALimit, std::string AWhat);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex FLock;
  std::condition_variable FDone;
  bool FFinished = false;
  std::thread FThread;
};

}  // namespace qor::test
