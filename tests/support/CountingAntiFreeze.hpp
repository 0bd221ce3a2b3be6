#pragma once

#include "qorclnt/connection/IdAntiFreezeBase.hpp"

namespace qor::test {

// An anti-freeze whose idle turns only count themselves.
class CountingAntiFreeze : public TIdAntiFreezeBase {
 public:
  using TIdAntiFreezeBase::TIdAntiFreezeBase;
  void ProcessIdle() override { ++Turns; }
  int Turns = 0;
};

}  // namespace qor::test
