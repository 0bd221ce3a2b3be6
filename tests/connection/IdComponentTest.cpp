#include <gtest/gtest.h>

#include <barrier>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "qorclnt/connection/IdComponent.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/RuntimeErrors.hpp"
#include "qorclnt/socket/IdStack.hpp"

namespace qor {
namespace {

TEST(StackLife, FirstComponentMakesTheStackAndTheLastReleasesIt) {
  ASSERT_EQ(CurrentStack, nullptr);
  auto first = std::make_unique<TIdComponent>(nullptr);
  ASSERT_NE(CurrentStack, nullptr);
  TIdStack* const stack = CurrentStack.get();
  auto second = std::make_unique<TIdComponent>(nullptr);
  new TIdComponent(second.get());  // owned, freed with its owner
  EXPECT_EQ(StackUsers(), 3);
  EXPECT_EQ(CurrentStack.get(), stack);  // shared, not made again

  first.reset();
  EXPECT_EQ(CurrentStack.get(), stack);
  second.reset();  // the owner and the component it owns
  EXPECT_EQ(StackUsers(), 0);
  EXPECT_EQ(CurrentStack, nullptr);

  // A later component makes a stack anew.
  const TIdComponent again(nullptr);
  EXPECT_NE(CurrentStack, nullptr);
}

TEST(StackLife, ComponentsMadeAndFreedOnTwoThreadsAtOnce) {
  constexpr int Rounds = 300;
  std::barrier start(2);
  auto work = [&start] {
    start.arrive_and_wait();
    for (int i = 0; i < Rounds; ++i) {
      TIdComponent owner(nullptr);
      new TIdComponent(&owner);
      // While this thread holds a component, the stack can be neither made nor released.
      EXPECT_NE(CurrentStack, nullptr);
    }
  };
  std::thread other(work);
  work();
  other.join();
  EXPECT_EQ(StackUsers(), 0);
  EXPECT_EQ(CurrentStack, nullptr);
}

std::unique_ptr<TIdStack> FailingStack() {
  Raise(EIdInvalidSocket(RSCannotAllocateSocket));
}

TEST(StackLife, AFailedStackLeavesNoComponentBehind) {
  const TIdStackClass saved = StackClass;
  StackClass = &FailingStack;
  TComponent owner(nullptr);
  EXPECT_THROW(new TIdComponent(&owner), EIdInvalidSocket);
  StackClass = saved;
  EXPECT_EQ(StackUsers(), 0);
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_EQ(CurrentStack, nullptr);
  // The lock was released: the next component gets its stack.
  const TIdComponent next(nullptr);
  EXPECT_NE(CurrentStack, nullptr);
}

// A component whose status and work notifications are written to a log.
class WorkAndStatus : public ::testing::Test {
 protected:
  WorkAndStatus() {
    component.OnStatus = [this](TComponent* ASender, TIdStatus AStatus, const std::string& AText) {
      EXPECT_EQ(ASender, &component);
      log.push_back("status " + std::to_string(AStatus) + " " + AText);
    };
    component.OnWorkBegin = [this](TComponent*, TWorkMode AMode, int32_t AMax) {
      log.push_back("begin " + std::to_string(AMode) + " " + std::to_string(AMax));
    };
    component.OnWork = [this](TComponent*, TWorkMode AMode, int32_t ACount) {
      log.push_back("work " + std::to_string(AMode) + " " + std::to_string(ACount));
    };
    component.OnWorkEnd = [this](TComponent*, TWorkMode AMode) {
      log.push_back("end " + std::to_string(AMode));
    };
  }

  TIdComponent component{nullptr};
  std::vector<std::string> log;
};

using Log = std::vector<std::string>;

TEST_F(WorkAndStatus, ASpanReportsTheRunningTotal) {
  component.BeginWorkSpan(wmRead, 0);
  component.ReportWork(wmRead, 10);
  component.ReportWork(wmRead, 5);
  EXPECT_EQ(component.WorkSpan(wmRead).Done, 15);
  component.EndWorkSpan(wmRead);
  EXPECT_EQ(log, (Log{"begin 0 0", "work 0 10", "work 0 15", "end 0"}));
  EXPECT_EQ(component.WorkSpan(wmRead).Depth, 0);
}

TEST_F(WorkAndStatus, NestedSpansNotifyOnlyForTheOutermost) {
  component.BeginWorkSpan(wmWrite, 100);
  component.ReportWork(wmWrite, 30);
  component.BeginWorkSpan(wmWrite, 7);
  component.ReportWork(wmWrite, 7);
  EXPECT_EQ(component.WorkSpan(wmWrite).Total, 100);
  component.EndWorkSpan(wmWrite);
  component.ReportWork(wmWrite, 1);
  component.EndWorkSpan(wmWrite);
  EXPECT_EQ(log, (Log{"begin 1 100", "work 1 30", "work 1 37", "work 1 38", "end 1"}));
}

TEST_F(WorkAndStatus, DirectionsAreIndependentAndWorkOutsideASpanIsDropped) {
  component.ReportWork(wmRead, 99);
  component.BeginWorkSpan(wmRead, 50);
  component.ReportWork(wmWrite, 99);  // no write span open
  component.BeginWorkSpan(wmWrite, 20);
  component.ReportWork(wmWrite, 4);
  component.ReportWork(wmRead, 6);
  component.EndWorkSpan(wmRead);
  component.ReportWork(wmRead, 1);
  component.EndWorkSpan(wmWrite);
  EXPECT_EQ(log, (Log{"begin 0 50", "begin 1 20", "work 1 4", "work 0 6", "end 0", "end 1"}));
}

TEST_F(WorkAndStatus, AFailingListenerStillLeavesTheSpanBalanced) {
  component.OnWorkBegin = [](TComponent*, TWorkMode, int32_t) { Raise(EIdException("begin failed")); };
  EXPECT_THROW(component.BeginWorkSpan(wmRead, 10), EIdException);
  component.EndWorkSpan(wmRead);  // the caller's always-run step
  EXPECT_EQ(component.WorkSpan(wmRead).Depth, 0);

  component.OnWorkEnd = [](TComponent*, TWorkMode) { Raise(EIdException("end failed")); };
  component.OnWorkBegin = nullptr;
  component.BeginWorkSpan(wmWrite, 10);
  EXPECT_THROW(component.EndWorkSpan(wmWrite), EIdException);
  EXPECT_EQ(component.WorkSpan(wmWrite).Depth, 0);
}

TEST_F(WorkAndStatus, StatusTextsAreFormattedWithTheArguments) {
  component.NotifyStatus(hsResolving, {std::string("example.invalid")});
  component.NotifyStatus(hsResolving);
  component.NotifyStatus(hsConnecting, {std::string("127.0.0.1")});
  component.NotifyStatus(hsConnected, {std::string("127.0.0.1")});
  component.NotifyStatus(hsDisconnecting);
  component.NotifyStatus(hsDisconnected);
  component.NotifyStatus(hsStatusText);
  component.NotifyStatus(ftpAborted, {std::string("aborted")});
  EXPECT_EQ(log, (Log{"status 0 Resolving hostname example.invalid.", "status 0 Resolving hostname .",
                      "status 1 Connecting to 127.0.0.1.", "status 2 Connected.", "status 3 Disconnecting.",
                      "status 4 Disconnected.", "status 5 ", "status 8 aborted"}));
}

TEST_F(WorkAndStatus, StatusIsFormattedOnlyForAListener) {
  // A number for "%s" cannot be formatted: the error reaches the caller, but only when a listener
  // would get the text.
  EXPECT_THROW(component.NotifyStatus(hsConnecting, {5}), EConvertError);
  component.OnStatus = nullptr;
  EXPECT_NO_THROW(component.NotifyStatus(hsConnecting, {5}));
}

}  // namespace
}  // namespace qor
