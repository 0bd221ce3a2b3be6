// The text rules: the number rule, trimming, upper-casing, the dotted-quad test, address parsing,
// CutToken and FindInMemory, each compared with a plain reference over texts the input chooses.

#include <algorithm>
#include <array>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>

#include "FuzzCheck.hpp"
#include "FuzzInput.hpp"
#include "Reference.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/runtime/RuntimeErrors.hpp"
#include "qorclnt/runtime/Strings.hpp"
#include "qorclnt/socket/IdStackLinux.hpp"

namespace qor::fuzz {
namespace {

// A text of the shape numbers have: spaces, a sign, a prefix, digits (up to 40 bits, some with
// leading zeros), sometimes a stray byte after them.
std::string NumberLike(TFuzzInput& AInput) {
  static constexpr const char* Signs[] = {"", "+", "-"};
  static constexpr const char* Prefixes[] = {"", "", "$", "x", "X", "0x", "0X"};
  std::string text(AInput.Below(3), ' ');
  text += Signs[AInput.Below(std::size(Signs))];
  const size_t prefix = AInput.Below(std::size(Prefixes));
  text += Prefixes[prefix];
  text += std::string(AInput.Below(3), '0');
  uint64_t value = 0;
  for (int i = 0; i < 5; ++i) value = value << 8 | AInput.Byte();
  value >>= AInput.Below(41);
  char digits[24];
  std::snprintf(digits, sizeof digits, prefix >= 2 ? "%llx" : "%llu", static_cast<unsigned long long>(value));
  text += digits;
  if (AInput.Below(4) == 0) text += static_cast<char>(AInput.Byte());
  return text;
}

void CheckNumber(const std::string& AText) {
  const std::optional<int32_t> expected = ref::Number(AText);
  int32_t value = 0;
  const bool converted = TryStrToInt(AText, value);
  const auto detail = [&] {
    return Escaped(AText) + " gave " + (converted ? std::to_string(value) : "no number") + ", expected " +
           (expected ? std::to_string(*expected) : "no number");
  };
  FUZZ_CHECK(converted == expected.has_value() && (!converted || value == *expected), detail());
  FUZZ_CHECK(StrToIntDef(AText, -7) == expected.value_or(-7), detail());
  bool raised = false;
  try {
    FUZZ_CHECK(StrToInt(AText) == expected.value_or(0), detail());
  } catch (const EConvertError&) {
    raised = true;
  }
  FUZZ_CHECK(raised != converted, detail());
}

void CheckCase(const std::string& AText) {
  FUZZ_CHECK(Trim(AText) == ref::Trim(AText), Escaped(AText));
  FUZZ_CHECK(UpperCaseAscii(AText) == ref::UpperAscii(AText), Escaped(AText));
  // Locale upper-casing runs on every text (for the sanitizers); on ASCII ones it is the plain one.
  const std::string upper = UpperCase(AText);
  const bool ascii = std::all_of(AText.begin(), AText.end(), [](char c) { return (c & 0x80) == 0; });
  FUZZ_CHECK(!ascii || upper == ref::UpperAscii(AText), Escaped(AText) + " gave " + Escaped(upper));
}

void CheckAddress(const std::string& AText, TFuzzInput& AInput) {
  static TIdStackLinux stack;
  FUZZ_CHECK(stack.IsDottedQuad(AText) == ref::IsDottedQuad(AText), Escaped(AText));
  const std::optional<std::array<uint8_t, 4>> expected = ref::ParseAddress(AText);
  TIdIn4Addr address{};
  bool converted = true;
  try {
    stack.ParseAddress(AText, address);
  } catch (const EConvertError&) {
    converted = false;
  }
  FUZZ_CHECK(converted == expected.has_value() && (!converted || address == *expected), Escaped(AText));
  // Any four bytes come back from their text.
  const TIdIn4Addr bytes{AInput.Byte(), AInput.Byte(), AInput.Byte(), AInput.Byte()};
  const std::string text = stack.FormatAddress(bytes);
  stack.ParseAddress(text, address);
  FUZZ_CHECK(address == bytes && stack.IsDottedQuad(text), text);
}

void CheckCutToken(const std::string& AText, const std::string& ADelim) {
  for (const bool caseSensitive : {true, false}) {
    const size_t at =
        caseSensitive ? ref::Find(ADelim, AText) : ref::Find(ref::UpperAscii(ADelim), ref::UpperAscii(AText));
    const bool found = at != std::string::npos;
    for (const bool remove : {true, false}) {
      std::string input = AText;
      const std::string token = CutToken(input, ADelim, remove, caseSensitive);
      const auto detail = [&] {
        return Escaped(AText) + " at " + Escaped(ADelim) + (caseSensitive ? "" : " any case") +
               (remove ? " removing" : "");
      };
      FUZZ_CHECK(token == (found ? AText.substr(0, at) : AText), detail() + " gave " + Escaped(token));
      const std::string rest = !remove ? AText : found ? AText.substr(at + ADelim.size()) : std::string();
      FUZZ_CHECK(input == rest, detail() + " left " + Escaped(input));
    }
  }
}

void CheckFindInMemory(const std::string& AText, const std::string& APattern, TFuzzInput& AInput) {
  // The whole text, a part of it, or a negative size.
  auto size = static_cast<int32_t>(AText.size());
  const size_t choice = AInput.Below(4);
  if (choice == 0) size = static_cast<int32_t>(AInput.Below(AText.size() + 1));
  if (choice == 1) size = -1 - static_cast<int32_t>(AInput.Below(4));
  const size_t at = size < 0
                        ? std::string::npos
                        : ref::Find(APattern, std::string_view(AText).substr(0, static_cast<size_t>(size)));
  const int32_t expected = at == std::string::npos ? 0 : static_cast<int32_t>(at) + 1;
  const int32_t found = FindInMemory(APattern, AText.data(), size);
  FUZZ_CHECK(found == expected, Escaped(APattern) + " in " + Escaped(AText) + " size " +
                                    std::to_string(size) + " gave " + std::to_string(found));
}

}  // namespace
}  // namespace qor::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  // Upper-casing goes through the locale, as in the program after its start-up.
  static const bool localeSet = std::setlocale(LC_ALL, "C.UTF-8") != nullptr;
  (void)localeSet;
  qor::fuzz::TFuzzInput input(AData, ASize);
  const std::string text = input.Bytes(input.Byte());
  const std::string pattern = input.Bytes(input.Below(16));
  qor::fuzz::CheckNumber(text);
  qor::fuzz::CheckCase(text);
  qor::fuzz::CheckAddress(text, input);
  qor::fuzz::CheckCutToken(text, pattern);
  qor::fuzz::CheckFindInMemory(text, pattern, input);
  qor::fuzz::CheckNumber(qor::fuzz::NumberLike(input));
  return 0;
}
