#pragma once

#include <unistd.h>

#include <utility>

namespace qor::test {

// Owns one file descriptor and closes it when it goes (or is replaced). -1 means none.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int AFd) noexcept : FFd(AFd) {}
  UniqueFd(UniqueFd&& AOther) noexcept : FFd(AOther.Release()) {}
  UniqueFd& operator=(UniqueFd&& AOther) noexcept {
    Reset(AOther.Release());
    return *this;
  }
  ~UniqueFd() { Reset(); }

  int Get() const noexcept { return FFd; }
  bool Valid() const noexcept { return FFd >= 0; }
  int Release() noexcept { return std::exchange(FFd, -1); }
  void Reset(int AFd = -1) noexcept {
    if (FFd >= 0) ::close(FFd);
    FFd = AFd;
  }

 private:
  int FFd = -1;
};

}  // namespace qor::test
