#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Plain, slow implementations of the parsing rules, written independently of the product code, for
// the harnesses to compare against.
namespace qor::fuzz::ref {

// The number rule: spaces, a sign, then decimal digits, or hexadecimal ones after $ x X 0x 0X;
// signed 32 bits (a hexadecimal text fills 32 bits). Empty when the text is not a number.
std::optional<int32_t> Number(std::string_view AText);

// Without the bytes of value 32 or less at both ends.
std::string Trim(std::string_view AText);

// Only a to z turned into A to Z.
std::string UpperAscii(std::string_view AText);

// Four fields separated by dots (the fourth is all that follows the third dot), each a number from
// 0 to 255.
bool IsDottedQuad(std::string_view AText);

// The four fields before the next dots (anything after a fourth dot ignored), each a number cut to
// its low 8 bits; empty when a field is not a number.
std::optional<std::array<uint8_t, 4>> ParseAddress(std::string_view AText);

// 0-based position of the first occurrence of ANeedle in AHaystack; npos when absent or ANeedle is empty.
size_t Find(std::string_view ANeedle, std::string_view AHaystack);

// What reading one line from the buffered bytes ABuffer gives, with terminator ATerminator and
// maximum line length AMax (0: no limit).
struct TLineOutcome {
  enum TKind : uint8_t { lkLine, lkTooLong, lkIncomplete } Kind;
  std::string Line;     // lkLine: the line without its terminator (and, after LF, one CR before it)
  size_t Consumed = 0;  // lkLine: bytes taken, terminator included
};
TLineOutcome SplitLine(std::string_view ABuffer, std::string_view ATerminator, size_t AMax);

}  // namespace qor::fuzz::ref
