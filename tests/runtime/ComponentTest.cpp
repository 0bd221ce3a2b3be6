#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "qorclnt/runtime/Component.hpp"

namespace qor {
namespace {

// Logs the notices it gets and forgets the component it watches when that one is removed.
class TWatcher : public TComponent {
 public:
  TWatcher(TComponent* AOwner, std::vector<std::string>& ALog) : TComponent(AOwner), FLog(ALog) {}
  TComponent* Watched = nullptr;

 protected:
  void Notification(TComponent* AComponent, TOperation AOperation) override {
    FLog.push_back((AOperation == opRemove ? "remove " : "insert ") + AComponent->Name());
    if (AOperation == opRemove && AComponent == Watched) Watched = nullptr;
  }

 private:
  std::vector<std::string>& FLog;
};

TComponent* Named(TComponent* AComponent, const char* AName) {
  AComponent->SetName(AName);
  return AComponent;
}

TEST(Component, OwnerFreesOwnedComponentsBeforeItGoes) {
  std::vector<std::string> log;
  TWatcher watcher(nullptr, log);
  auto owner = std::make_unique<TComponent>(nullptr);
  Named(owner.get(), "owner");
  TComponent* first = Named(new TComponent(owner.get()), "first");
  TComponent* second = Named(new TComponent(owner.get()), "second");
  EXPECT_EQ(first->Owner(), owner.get());
  EXPECT_EQ(owner->ComponentCount(), 2);
  for (TComponent* c : {owner.get(), first, second}) c->FreeNotification(&watcher);

  owner.reset();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log.back(), "remove owner");
  EXPECT_NE(std::find(log.begin(), log.end(), "remove first"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "remove second"), log.end());
}

TEST(Component, RemovalNoticeLetsTheHolderForgetThePointer) {
  std::vector<std::string> log;
  TWatcher holder(nullptr, log);
  auto target = std::make_unique<TComponent>(nullptr);
  Named(target.get(), "target");
  holder.Watched = target.get();
  target->FreeNotification(&holder);
  target->FreeNotification(&holder);  // asking twice gives one notice
  target.reset();
  EXPECT_EQ(holder.Watched, nullptr);
  EXPECT_EQ(log, std::vector<std::string>{"remove target"});

  // After RemoveFreeNotification nothing is told.
  log.clear();
  target = std::make_unique<TComponent>(nullptr);
  target->FreeNotification(&holder);
  target->RemoveFreeNotification(&holder);
  target.reset();
  EXPECT_TRUE(log.empty());
}

TEST(Component, ANoticeIsNeverSentToAComponentThatIsGone) {
  std::vector<std::string> targetLog;
  std::vector<std::string> holderLog;
  auto target = std::make_unique<TWatcher>(nullptr, targetLog);
  auto holder = std::make_unique<TWatcher>(nullptr, holderLog);
  Named(holder.get(), "holder");
  target->FreeNotification(holder.get());
  // The link runs both ways: the holder going first is told to the target, which then forgets it.
  holder.reset();
  EXPECT_EQ(targetLog, std::vector<std::string>{"remove holder"});
  // So the target going sends no notice to the freed holder (a use after free, and a log entry).
  target.reset();
  EXPECT_TRUE(holderLog.empty());
  EXPECT_EQ(targetLog.size(), 1u);
}

TEST(Component, DeletingAnOwnedComponentTakesItOutOfItsOwner) {
  std::vector<std::string> log;
  auto owner = std::make_unique<TWatcher>(nullptr, log);
  owner->SetDesigning(true);
  TComponent* child = Named(new TComponent(owner.get()), "child");
  EXPECT_TRUE(child->Designing());  // the owner's design state is passed on
  EXPECT_EQ(owner->ComponentCount(), 1);

  delete child;
  EXPECT_EQ(owner->ComponentCount(), 0);
  ASSERT_EQ(log.size(), 2u);  // the insertion, then the removal
  EXPECT_EQ(log[1], "remove child");
  owner.reset();  // nothing is freed twice
}

}  // namespace
}  // namespace qor
