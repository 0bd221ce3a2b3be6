#include "support/Watchdog.hpp"

#include <cstdio>
#include <cstdlib>

namespace qor::test {

Watchdog::Watchdog(std::chrono::milliseconds ALimit, std::string AWhat)
    : FThread([this, ALimit, what = std::move(AWhat)] {
        std::unique_lock lock(FLock);
        if (FDone.wait_for(lock, ALimit, [this] { return FFinished; })) return;
        std::fprintf(stderr, "Watchdog: %s still running after %lld ms\n", what.c_str(),
                     static_cast<long long>(ALimit.count()));
        std::abort();
      }) {}

Watchdog::~Watchdog() {
  {
    std::lock_guard guard(FLock);
    FFinished = true;
  }
  FDone.notify_all();
  FThread.join();
}

}  // namespace qor::test
