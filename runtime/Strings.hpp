#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qor {

// Removes every byte of value 32 or less from both ends.
std::string Trim(std::string_view AText);
// What Trim keeps, as a view into AText (no copy).
std::string_view TrimView(std::string_view AText);
// What trimming removes: spaces and control characters (bytes 0 to 32).
inline bool IsBlankChar(char AChar) {
  return static_cast<unsigned char>(AChar) <= 32;
}
// True when trimming would leave nothing. Inline: it runs once a reply line, and usually stops at the
// first byte.
inline bool IsBlank(std::string_view AText) {
  for (const char c : AText) {
    if (!IsBlankChar(c)) return false;
  }
  return true;
}

// Upper-cases through the C library's locale (mbrtowc, towupper, wcrtomb); bytes that do not decode
// are kept as they are.
std::string UpperCase(std::string_view AText);

// Turns only the letters a to z into A to Z.
std::string UpperCaseAscii(std::string_view AText);

// The number rule: leading spaces (code 32), an optional sign, then decimal digits, or hexadecimal
// digits after "$", "x", "X", "0x" or "0X". The value must fit in 32 bits; a hexadecimal text is taken
// as 32 bits, so one with the top bit set is negative. False for anything else.
bool TryStrToInt(std::string_view AText, int32_t& AValue);

// The number rule with a default for a text that is not a number.
int32_t StrToIntDef(std::string_view AText, int32_t ADefault);

// The number rule; a text that is not a number raises EConvertError.
int32_t StrToInt(std::string_view AText);

}  // namespace qor
