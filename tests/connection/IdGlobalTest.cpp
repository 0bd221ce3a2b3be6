#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <optional>
#include <string>
#include <thread>

#include "qorclnt/connection/IdComponent.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/socket/IdStack.hpp"

namespace qor {
namespace {

using namespace std::string_literals;

TEST(CutToken, TakesThePartsOfADottedAddress) {
  std::string address = "127.0.0.1";
  EXPECT_EQ(CutToken(address, ".", true, true), "127");
  EXPECT_EQ(address, "0.0.1");
  EXPECT_EQ(CutToken(address, "."), "0");
  EXPECT_EQ(CutToken(address, "."), "0");
  EXPECT_EQ(CutToken(address, "."), "1");
  EXPECT_EQ(address, "");
  EXPECT_EQ(CutToken(address, "."), "");
}

TEST(CutToken, WithoutTheDelimiterGivesTheWholeText) {
  std::string text = "no delimiter";
  EXPECT_EQ(CutToken(text, ".", false, true), "no delimiter");
  EXPECT_EQ(text, "no delimiter");
  EXPECT_EQ(CutToken(text, ".", true, true), "no delimiter");
  EXPECT_EQ(text, "");
  // An empty delimiter is never found.
  text = "abc";
  EXPECT_EQ(CutToken(text, "", true, true), "abc");
  EXPECT_EQ(text, "");
}

TEST(CutToken, DeleteOffLeavesTheInputAndLongDelimitersAreSkippedWhole) {
  std::string text = "key::value::more";
  EXPECT_EQ(CutToken(text, "::", false, true), "key");
  EXPECT_EQ(text, "key::value::more");
  EXPECT_EQ(CutToken(text, "::", true, true), "key");
  EXPECT_EQ(text, "value::more");
  text = "ends with.";
  EXPECT_EQ(CutToken(text, "."), "ends with");
  EXPECT_EQ(text, "");
}

TEST(CutToken, CaseInsensitiveSearchFoldsOnlyAToZ) {
  std::string text = "helloXworld";
  EXPECT_EQ(CutToken(text, "x", false, true), "helloXworld");
  EXPECT_EQ(CutToken(text, "x", true, false), "hello");
  EXPECT_EQ(text, "world");  // the input keeps its case
  // '{' is not the lower case of '[', and é is not folded to É.
  text = "a{b";
  EXPECT_EQ(CutToken(text, "[", false, false), "a{b");
  text = "caf\xc3\xa9|";
  EXPECT_EQ(CutToken(text, "\xc3\x89", false, false), "caf\xc3\xa9|");
}

TEST(CutToken, FindsANulDelimiterInBothModes) {
  for (const bool caseSensitive : {true, false}) {
    std::string text = "ab\0cd\0"s;
    EXPECT_EQ(CutToken(text, "\0"s, true, caseSensitive), "ab");
    EXPECT_EQ(text, "cd\0"s);
  }
}

int32_t Find(const std::string& APattern, const std::string& ABuffer) {
  return FindInMemory(APattern, ABuffer.data(), static_cast<int32_t>(ABuffer.size()));
}

TEST(FindInMemory, FindsThePatternAtEveryPlace) {
  EXPECT_EQ(Find("\n", "line\n"), 5);  // at the last byte: the size
  EXPECT_EQ(Find("l", "line\n"), 1);
  EXPECT_EQ(Find("\r\n", "one\r\ntwo\r\n"), 4);
  EXPECT_EQ(Find("ab", "aaab"), 3);  // after candidates that fail
  EXPECT_EQ(Find("\0x"s, "a\0\0x"s), 3);
  EXPECT_EQ(Find("\xff\x80", "\x7f\xff\x80"), 2);  // bytes above 127 compare as bytes
  EXPECT_EQ(Find("whole", "whole"), 1);
}

TEST(FindInMemory, GivesZeroWhenThePatternCannotFit) {
  EXPECT_EQ(Find("\r\n", "line\r"), 0);  // two-byte pattern starting at the last byte
  EXPECT_EQ(Find("longer", "long"), 0);
  EXPECT_EQ(Find("", "text"), 0);
  EXPECT_EQ(Find("x", ""), 0);
  EXPECT_EQ(FindInMemory("x", "x", -1), 0);
  // Nothing beyond ASize is looked at.
  const char buffer[] = "abcX";
  EXPECT_EQ(FindInMemory("X", buffer, 3), 0);
  EXPECT_EQ(FindInMemory("cX", buffer, 3), 0);
  EXPECT_EQ(FindInMemory("c", buffer, 3), 3);
}

TEST(IsMainThread, TrueOnlyOnTheThreadThatStartedTheProgram) {
  EXPECT_TRUE(IsMainThread());
  bool onOther = true;
  std::thread([&onOther] { onOther = IsMainThread(); }).join();
  EXPECT_FALSE(onOther);
}

// A resolved wait in words, so that a table of them reads (and fails) plainly.
std::string Words(std::optional<TIdWait> AWait) {
  if (!AWait) return "untimed";
  if (AWait->IsUnlimited()) return "no limit";
  if (!AWait->IsAllowed()) return "no wait";
  return AWait->Ms() == 0 ? "poll" : std::to_string(AWait->Ms()) + " ms";
}

TEST(TIdWait, EachKindOfCallResolvesEverySpecialValue) {
  struct Case {
    int32_t Timeout;
    const char* Wait;
    const char* Read;         // with a ReadTimeout of 1000
    const char* ReadUntimed;  // with a ReadTimeout of 0
    const char* Connect;
  };
  const Case cases[] = {
      {-2, "no limit", "no limit", "no limit", "no limit"},
      {-1, "no wait", "1000 ms", "no limit", "untimed"},
      {0, "poll", "poll", "poll", "untimed"},
      {1, "1 ms", "1 ms", "1 ms", "1 ms"},
      {250, "250 ms", "250 ms", "250 ms", "250 ms"},
      {INT32_MAX, "2147483647 ms", "2147483647 ms", "2147483647 ms", "2147483647 ms"},
      {-3, "no wait", "no wait", "no wait", "poll"},
      {INT32_MIN, "no wait", "no wait", "no wait", "poll"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Timeout);
    EXPECT_EQ(Words(TIdWait::Of(c.Timeout)), c.Wait);
    EXPECT_EQ(Words(TIdWait::ForRead(c.Timeout, 1000)), c.Read);
    EXPECT_EQ(Words(TIdWait::ForRead(c.Timeout, 0)), c.ReadUntimed);
    EXPECT_EQ(Words(TIdWait::ForConnect(c.Timeout)), c.Connect);
  }
  // The default of a read takes ReadTimeout as a wait takes its time-out, 0 aside.
  EXPECT_EQ(Words(TIdWait::ForRead(-1, -2)), "no limit");
  EXPECT_EQ(Words(TIdWait::ForRead(-1, -1)), "no wait");
  EXPECT_EQ(Words(TIdWait::ForRead(-1, -7)), "no wait");
}

TEST(TIdWait, AtLeastRaisesAnythingButNoLimit) {
  EXPECT_EQ(Words(TIdWait::Of(0).AtLeast(1)), "1 ms");
  EXPECT_EQ(Words(TIdWait::Of(300).AtLeast(125)), "300 ms");
  EXPECT_EQ(Words(TIdWait::Of(-3).AtLeast(1)), "1 ms");
  EXPECT_EQ(Words(TIdWait::Unlimited().AtLeast(125)), "no limit");
}

TEST(TIdDeadline, CountsALimitDownToAPollAndKeepsTheOtherWaits) {
  const TIdDeadline second(TIdWait::Of(1000));
  EXPECT_GT(second.Left().Ms(), 900);
  EXPECT_LE(second.Left().Ms(), 1000);
  EXPECT_TRUE(second.End());
  const TIdDeadline brief(TIdWait::Of(20));
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_EQ(Words(brief.Left()), "poll");  // once the time is up: a poll, never no limit
  EXPECT_EQ(Words(TIdDeadline(TIdWait::Of(0)).Left()), "poll");
  EXPECT_EQ(Words(TIdDeadline(TIdWait::Unlimited()).Left()), "no limit");
  EXPECT_FALSE(TIdDeadline(TIdWait::Unlimited()).End());
  EXPECT_EQ(Words(TIdDeadline(TIdWait::Of(-3)).Left()), "no wait");
}

using Clock = std::chrono::steady_clock;

TEST(PauseMs, LastsItsTimeAndGivesTheStackBack) {
  ASSERT_EQ(CurrentStack, nullptr);
  const auto start = Clock::now();
  PauseMs(500);
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(450));
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  // The stack made for the pause is released with it when no component holds it.
  EXPECT_EQ(CurrentStack, nullptr);
  EXPECT_EQ(StackUsers(), 0);
}

TEST(PauseMs, KeepsItsStackWhileComponentsComeAndGoOnAnotherThread) {
  std::atomic<bool> paused{false};
  std::thread churn([&paused] {
    while (!paused.load(std::memory_order_acquire)) {
      const TIdComponent component(nullptr);
    }
  });
  const auto start = Clock::now();
  PauseMs(200);
  const auto elapsed = Clock::now() - start;
  paused.store(true, std::memory_order_release);
  churn.join();
  EXPECT_GE(elapsed, std::chrono::milliseconds(180));
  EXPECT_EQ(StackUsers(), 0);
  EXPECT_EQ(CurrentStack, nullptr);
}

}  // namespace
}  // namespace qor
