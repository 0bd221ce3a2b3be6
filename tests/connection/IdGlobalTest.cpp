#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
