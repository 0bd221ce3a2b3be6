#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include "qorclnt/runtime/RuntimeErrors.hpp"
#include "qorclnt/runtime/Strings.hpp"

namespace qor {
namespace {

std::optional<int32_t> Number(const std::string& AText) {
  int32_t value = 0;
  if (!TryStrToInt(AText, value)) return std::nullopt;
  return value;
}

TEST(NumberRule, AcceptsDecimalWithLeadingSpacesAndSign) {
  EXPECT_EQ(Number("0"), 0);
  EXPECT_EQ(Number("15937"), 15937);
  EXPECT_EQ(Number("   42"), 42);
  EXPECT_EQ(Number("+7"), 7);
  EXPECT_EQ(Number("  -1000"), -1000);
  EXPECT_EQ(Number("007"), 7);
  EXPECT_EQ(Number("2147483647"), 2147483647);
  EXPECT_EQ(Number("-2147483648"), INT32_MIN);
}

TEST(NumberRule, AcceptsEveryHexadecimalPrefix) {
  EXPECT_EQ(Number("$1F"), 31);
  EXPECT_EQ(Number("x1f"), 31);
  EXPECT_EQ(Number("X1F"), 31);
  EXPECT_EQ(Number("0x1F"), 31);
  EXPECT_EQ(Number("0XaB"), 171);
  EXPECT_EQ(Number(" -$10"), -16);
  // A hexadecimal text fills 32 bits, so the top bit makes it negative.
  EXPECT_EQ(Number("$FFFFFFFF"), -1);
  EXPECT_EQ(Number("0x80000000"), INT32_MIN);
  EXPECT_EQ(Number("$7FFFFFFF"), INT32_MAX);
}

TEST(NumberRule, RefusesEverythingElse) {
  for (const char* text : {"",    " ",          "-",           "+",           "$",          "0x",
                           "x",   "2147483648", "-2147483649", "99999999999", "$100000000", "0x1FFFFFFFF",
                           "12 ", "12a",        "1.5",         "\t12",        "\n12",       "- 5",
                           "--5", "$G",         "0b101",       "1e3"}) {
    EXPECT_EQ(Number(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(NumberRule, DefaultAndRaisingForms) {
  EXPECT_EQ(StrToIntDef(" 80", -1), 80);
  EXPECT_EQ(StrToIntDef("eighty", -1), -1);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_THROW(StrToInt("eighty"), EConvertError);
}

TEST(Trim, RemovesControlBytesAndSpacesAtBothEndsOnly) {
  EXPECT_EQ(Trim(" \t\r\n quote  hello \x01\x1f "), "quote  hello");
  EXPECT_EQ(Trim(std::string("\0 x \0", 5)), "x");
  EXPECT_EQ(Trim(" \t "), "");
  EXPECT_EQ(Trim(""), "");
  // Bytes above 32, including those of UTF-8 characters and DEL, stay.
  EXPECT_EQ(Trim("\x7f\xc3\xa9!\xa0"), "\x7f\xc3\xa9!\xa0");
  // TrimView keeps the same bytes without copying them.
  const std::string text = " \t quote \x01";
  EXPECT_EQ(TrimView(text), "quote");
  EXPECT_EQ(TrimView(text).data(), text.data() + 3);
  EXPECT_TRUE(TrimView(" \r\n").empty());
}

TEST(UpperCaseAscii, FoldsOnlyLettersAToZ) {
  EXPECT_EQ(UpperCaseAscii("quote {a-z} \xc3\xa9 123"), "QUOTE {A-Z} \xc3\xa9 123");
}

// Switches the C library to a UTF-8 locale for one test.
class UpperCaseUtf8 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(UpperCaseUtf8, FoldsCharactersOfTheLocale) {
  EXPECT_EQ(UpperCase("quote hello"), "QUOTE HELLO");
  EXPECT_EQ(UpperCase("caf\xc3\xa9"), "CAF\xc3\x89");  // é becomes É
  EXPECT_EQ(UpperCase("stra\xc3\x9f"
                      "e"),
            "STRA\xc3\x9f"
            "E");                         // ß has no single upper-case letter
  EXPECT_EQ(UpperCase("\xc4\xb1"), "I");  // dotless i: two bytes become one
}

TEST(UpperCase, PrintableAsciiAndWhatFollowsOtherBytesInTheCAndUtf8Locales) {
  std::string printable;
  for (char c = ' '; c < '\x7f'; ++c) printable.push_back(c);
  const std::string upper = UpperCaseAscii(printable);  // no other printable ASCII has a case here
  for (const char* locale : {"C", "C.UTF-8"}) {
    if (std::setlocale(LC_ALL, locale) == nullptr) continue;
    EXPECT_EQ(UpperCase(printable), upper) << locale;
    // After a character of several bytes, and after a byte that does not decode.
    EXPECT_EQ(UpperCase("\xc3\xa9q\xffz"), MB_CUR_MAX > 1 ? "\xc3\x89Q\xffZ" : "\xc3\xa9Q\xffZ") << locale;
  }
  std::setlocale(LC_ALL, "C");
}

TEST_F(UpperCaseUtf8, KeepsBytesThatDoNotDecode) {
  EXPECT_EQ(UpperCase("a\xff"
                      "b"),
            "A\xff"
            "B");
  EXPECT_EQ(UpperCase("x\xc3"), "X\xc3");  // cut-off sequence at the end
  EXPECT_EQ(UpperCase("\xc3"
                      "a\xc3\xa9"),
            "\xc3"
            "A\xc3\x89");  // decoding starts afresh after a bad byte
  EXPECT_EQ(UpperCase(std::string("a\0b", 3)), std::string("A\0B", 3));
}

TEST(UpperCase, InTheCLocaleFoldsOnlyAscii) {
  EXPECT_EQ(UpperCase("abc\xe9\xff"), "ABC\xe9\xff");
}

}  // namespace
}  // namespace qor
