#include <gtest/gtest.h>

#include "qorclnt/runtime/Format.hpp"
#include "qorclnt/runtime/RuntimeErrors.hpp"

namespace qor {
namespace {

TEST(Format, FillsPlaceholdersInTurn) {
  EXPECT_EQ(Format("Socket Error # %d\r\n%s", {111, std::string("Connection refused.")}),
            "Socket Error # 111\r\nConnection refused.");
  EXPECT_EQ(Format("(%d - %d)", {INT32_MIN, INT32_MAX}), "(-2147483648 - 2147483647)");
  EXPECT_EQ(Format("100%% of %s", {std::string("it")}), "100% of it");
  EXPECT_EQ(Format("no placeholder", {}), "no placeholder");
  EXPECT_EQ(Format("%s", {std::string()}), "");
  // Arguments left over are ignored.
  EXPECT_EQ(Format("Connected.", {std::string("host")}), "Connected.");
}

TEST(Format, KeepsBytesOfArgumentsAsTheyAre) {
  const std::string bytes("a\0%d\xff", 5);
  EXPECT_EQ(Format("[%s]", {bytes}), "[" + bytes + "]");
}

TEST(Format, RaisesConvertErrorForAMissingOrWrongArgument) {
  EXPECT_THROW(Format("%s and %s", {std::string("one")}), EConvertError);
  EXPECT_THROW(Format("%d", {std::string("text")}), EConvertError);
  EXPECT_THROW(Format("%s", {5}), EConvertError);
  EXPECT_THROW(Format("%x", {5}), EConvertError);
  EXPECT_THROW(Format("50%", {}), EConvertError);
}

}  // namespace
}  // namespace qor
