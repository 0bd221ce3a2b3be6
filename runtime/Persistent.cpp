#include "qorclnt/runtime/Persistent.hpp"

#include "qorclnt/runtime/Format.hpp"
#include "qorclnt/runtime/RuntimeErrors.hpp"
#include "qorclnt/runtime/RuntimeStrings.hpp"

namespace qor {

void TPersistent::Assign(const TPersistent& ASource) {
  ASource.AssignTo(*this);
}

void TPersistent::AssignTo(TPersistent& ADest) const {
  ADest.AssignError(*this);
}

void TPersistent::AssignError(const TPersistent& ASource) const {
  Raise(EConvertError(Format(RSAssignError, {std::string(ASource.ClassName()), std::string(ClassName())})));
}

}  // namespace qor
