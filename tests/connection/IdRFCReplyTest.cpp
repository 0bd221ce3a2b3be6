#include "qorclnt/connection/IdRFCReply.hpp"

#include <gtest/gtest.h>

#include "qorclnt/runtime/RuntimeErrors.hpp"

namespace qor {
namespace {

using Lines = std::vector<std::string>;

// (Replies as a connection reads them are tested with the connection.)
TEST(RFCReply, TakesTheCodeFromTheFirstLineAndTextFromEveryLine) {
  TIdRFCReply reply;
  reply.ParseLines({"Hello", "250 x", "ab"});  // no code: the first four bytes stand for it
  EXPECT_EQ(reply.TextCode(), "Hell");
  EXPECT_EQ(reply.NumericCode(), 0);
  EXPECT_EQ(reply.Text(), (Lines{"o", "x", ""}));

  reply.ParseLines({});
  EXPECT_EQ(reply.TextCode(), "");
  EXPECT_EQ(reply.NumericCode(), 0);
  EXPECT_TRUE(reply.Text().empty());
}

TEST(RFCReply, WritingOneCodeUpdatesTheOther) {
  TIdRFCReply reply;
  reply.SetTextCode("42");
  EXPECT_EQ(reply.NumericCode(), 42);
  reply.SetTextCode("$1F");
  EXPECT_EQ(reply.NumericCode(), 31);
  reply.SetTextCode("abc");
  EXPECT_EQ(reply.NumericCode(), 0);
  reply.SetNumericCode(7);
  reply.SetTextCode("");  // an empty text leaves the number alone
  EXPECT_EQ(reply.NumericCode(), 7);

  reply.SetNumericCode(550);
  EXPECT_EQ(reply.TextCode(), "550");
  reply.SetNumericCode(0);
  EXPECT_EQ(reply.TextCode(), "550");
  reply.SetNumericCode(-3);
  EXPECT_EQ(reply.TextCode(), "550");
  EXPECT_EQ(reply.NumericCode(), -3);
}

TEST(RFCReply, CopiesOnlyIntoAnotherReply) {
  TIdRFCReply source;
  source.ParseLines({"421-busy", "421 later"});
  source.SetNumericCode(-1);  // copied as it is, not through the writing rule
  TIdRFCReply target;
  target.ParseLines({"200 old", "ignored"});
  target.Assign(source);
  EXPECT_EQ(target.NumericCode(), -1);
  EXPECT_EQ(target.TextCode(), "421");
  EXPECT_EQ(target.Text(), (Lines{"busy", "later"}));

  target.Assign(target);
  EXPECT_EQ(target.Text(), (Lines{"busy", "later"}));

  class TOther : public TPersistent {
   public:
    const char* ClassName() const noexcept override { return "TOther"; }
  } other;
  try {
    other.Assign(source);
    FAIL() << "copied into another class";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TIdRFCReply to a TOther");
  }
  try {
    target.Assign(other);
    FAIL() << "copied from another class";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TOther to a TIdRFCReply");
  }
  EXPECT_EQ(target.TextCode(), "421");
}

}  // namespace
}  // namespace qor
