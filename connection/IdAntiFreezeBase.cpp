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
  // In design state nothing is registered, and a second object is refused; the refusal also clears
  // the registration.
  if (CurrentAntiFreeze != nullptr) {
    CurrentAntiFreeze = nullptr;
    Raise(EIdException(RSOnlyOneAntiFreeze));
  }
}

TIdAntiFreezeBase::~TIdAntiFreezeBase() {
  // Only the registered one unregisters: a replaced one going must not stop the live one's turns.
  if (CurrentAntiFreeze == this) CurrentAntiFreeze = nullptr;
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
