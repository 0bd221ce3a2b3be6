#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "qorclnt/connection/IdAntiFreezeBase.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "support/CountingAntiFreeze.hpp"

namespace qor {
namespace {

using test::CountingAntiFreeze;

TEST(AntiFreeze, WithoutOneThereIsNoIdleProcessing) {
  ASSERT_EQ(CurrentAntiFreeze, nullptr);
  EXPECT_FALSE(TIdAntiFreezeBase::ShouldProcessIdle());
  TIdAntiFreezeBase::IdleTurn(true, true);  // nothing to call
}

TEST(AntiFreeze, HasItsDefaultsAndTheNewestIsRegistered) {
  CountingAntiFreeze first(nullptr);
  EXPECT_TRUE(first.Active);
  EXPECT_TRUE(first.ApplicationHasPriority);
  EXPECT_EQ(first.IdleTimeOut, 250);
  EXPECT_TRUE(first.OnlyWhenIdle);
  EXPECT_EQ(CurrentAntiFreeze, &first);
  {
    CountingAntiFreeze second(nullptr);
    EXPECT_EQ(CurrentAntiFreeze, &second);
  }
  // The registered one that goes clears the registration, so nothing points to a freed object.
  EXPECT_EQ(CurrentAntiFreeze, nullptr);
}

TEST(AntiFreeze, AReplacedOneGoingLeavesTheRegisteredOne) {
  auto replaced = std::make_unique<CountingAntiFreeze>(nullptr);
  CountingAntiFreeze live(nullptr);
  replaced.reset();
  EXPECT_EQ(CurrentAntiFreeze, &live);
  TIdAntiFreezeBase::IdleTurn(true, false);
  EXPECT_EQ(live.Turns, 1);
}

TEST(AntiFreeze, IdleTurnsFollowTheIdleAndForceRules) {
  CountingAntiFreeze antiFreeze(nullptr);
  ASSERT_TRUE(TIdAntiFreezeBase::ShouldProcessIdle());
  TIdAntiFreezeBase::IdleTurn(false, false);  // a write loop's turn: refused while OnlyWhenIdle
  EXPECT_EQ(antiFreeze.Turns, 0);
  TIdAntiFreezeBase::IdleTurn(true, false);
  TIdAntiFreezeBase::IdleTurn(false, true);
  EXPECT_EQ(antiFreeze.Turns, 2);
  antiFreeze.OnlyWhenIdle = false;
  TIdAntiFreezeBase::IdleTurn(false, false);
  EXPECT_EQ(antiFreeze.Turns, 3);

  antiFreeze.Active = false;
  EXPECT_FALSE(TIdAntiFreezeBase::ShouldProcessIdle());
  TIdAntiFreezeBase::IdleTurn(true, true);
  EXPECT_EQ(antiFreeze.Turns, 3);
}

TEST(AntiFreeze, OtherThreadsGetNoIdleTurns) {
  CountingAntiFreeze antiFreeze(nullptr);
  bool should = true;
  std::thread([&should] {
    should = TIdAntiFreezeBase::ShouldProcessIdle();
    TIdAntiFreezeBase::IdleTurn(true, true);
  }).join();
  EXPECT_FALSE(should);
  EXPECT_EQ(antiFreeze.Turns, 0);
}

TEST(AntiFreeze, InDesignStateASecondOneIsRefused) {
  TComponent designer(nullptr);
  designer.SetDesigning(true);
  // With none registered, one in design state is made but not registered.
  new CountingAntiFreeze(&designer);
  EXPECT_EQ(CurrentAntiFreeze, nullptr);

  CountingAntiFreeze registered(nullptr);
  try {
    new CountingAntiFreeze(&designer);
    FAIL() << "a second anti-freeze was made in design state";
  } catch (const EIdException& error) {
    EXPECT_EQ(error.Message(), "Only one TIdAntiFreeze can exist per application.");
  }
  // The refused one is gone from its owner and cleared the registration.
  EXPECT_EQ(designer.ComponentCount(), 1);
  EXPECT_EQ(CurrentAntiFreeze, nullptr);
}

}  // namespace
}  // namespace qor
