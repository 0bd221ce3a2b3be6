#include "qorclnt/runtime/RuntimeErrors.hpp"

#include <cstring>

namespace qor {

void RaiseInOutError(int AErrno) {
  Raise(EInOutError(std::strerror(AErrno)));
}

}  // namespace qor
