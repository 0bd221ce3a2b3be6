#include "qorclnt/connection/IdAntiFreezeBase.hpp"

#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"

namespace qor {

TIdAntiFreezeBase* CurrentAntiFreeze = nullptr;

TIdAntiFreezeBase::TIdAntiFreezeBase(TComponent* AOwner) : TIdBaseComponent(AOwner) {
  if (!Designing()) {
    // A new one replaces the registered one.
    CurrentAntiFreeze = this;
    return;
  }
  // In design state nothing is registered, and a second object is refused. The refused object is
  // destroyed half-made, which clears the registration as every anti-freeze's destruction does.
  if (CurrentAntiFreeze != nullptr) {
    CurrentAntiFreeze = nullptr;
    Raise(EIdException(RSOnlyOneAntiFreeze));
  }
}

TIdAntiFreezeBase::~TIdAntiFreezeBase() {
  CurrentAntiFreeze = nullptr;
}

bool TIdAntiFreezeBase::ShouldProcessIdle() {
  // The thread test comes first, so that other threads never read the registration.
  return IsMainThread() && CurrentAntiFreeze != nullptr && CurrentAntiFreeze->Active;
}

void TIdAntiFreezeBase::IdleTurn(bool AIdle, bool AForce) {
  if (!ShouldProcessIdle()) return;
  if (AIdle || AForce || !CurrentAntiFreeze->OnlyWhenIdle) CurrentAntiFreeze->ProcessIdle();
}

}  // namespace qor
