#include "qorclnt/runtime/RuntimeErrors.hpp"

#include <cstring>

#include "qorclnt/runtime/RuntimeStrings.hpp"

namespace qor {

void RaiseInOutError(int AErrno) {
  Raise(EInOutError(std::strerror(AErrno)));
}

void RaiseOutOfMemory() {
  Raise(EOutOfMemory(RSOutOfMemory));
}

}  // namespace qor
