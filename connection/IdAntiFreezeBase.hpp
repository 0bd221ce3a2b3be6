#pragma once

#include <cstdint>

#include "qorclnt/connection/IdBaseComponent.hpp"

namespace qor {

// The idle-processing hook: blocking waits give the registered object turns so that a program with
// an event loop can keep serving it. A derived class supplies ProcessIdle.
class TIdAntiFreezeBase : public TIdBaseComponent {
 public:
  explicit TIdAntiFreezeBase(TComponent* AOwner);
  ~TIdAntiFreezeBase() override;

  // One turn of the program's idle work.
  virtual void ProcessIdle() = 0;

  // True when an anti-freeze is registered and active and the caller runs on the main thread.
  static bool ShouldProcessIdle();
  // Gives the registered anti-freeze a turn: AIdle says the caller just waited without result;
  // AForce asks for a turn even when OnlyWhenIdle would refuse it.
  static void IdleTurn(bool AIdle, bool AForce);

  bool Active = true;
  bool ApplicationHasPriority = true;
  int32_t IdleTimeOut = 250;
  bool OnlyWhenIdle = true;
};

// The registered anti-freeze, or null.
extern TIdAntiFreezeBase* CurrentAntiFreeze;

}  // namespace qor
