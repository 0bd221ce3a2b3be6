#include "Reference.hpp"

#include <algorithm>
#include <vector>

namespace qor::fuzz::ref {

namespace {

bool IsDigitOfBase(char c, int ABase) {
  if (c >= '0' && c <= '9') return true;
  return ABase == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
}

int DigitOf(char c) {
  if (c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

// The dot-separated fields of AText (an empty text is one empty field).
std::vector<std::string_view> Fields(std::string_view AText) {
  std::vector<std::string_view> fields;
  for (size_t start = 0;;) {
    const size_t dot = AText.find('.', start);
    fields.push_back(AText.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) return fields;
    start = dot + 1;
  }
}

}  // namespace

std::optional<int32_t> Number(std::string_view AText) {
  std::string_view rest = AText.substr(std::min(AText.find_first_not_of(' '), AText.size()));
  const bool negative = !rest.empty() && rest[0] == '-';
  if (!rest.empty() && (rest[0] == '-' || rest[0] == '+')) rest.remove_prefix(1);
  int base = 10;
  if (rest.starts_with("0x") || rest.starts_with("0X")) {
    base = 16;
    rest.remove_prefix(2);
  } else if (!rest.empty() && (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')) {
    base = 16;
    rest.remove_prefix(1);
  }
  if (rest.empty() ||
      !std::all_of(rest.begin(), rest.end(), [base](char c) { return IsDigitOfBase(c, base); })) {
    return std::nullopt;
  }
  // Leading zeros do not count towards the size of the number.
  rest.remove_prefix(std::min(rest.find_first_not_of('0'), rest.size() - 1));
  if (rest.size() > (base == 16 ? 8u : 10u)) return std::nullopt;
  uint64_t magnitude = 0;
  for (const char c : rest)
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(DigitOf(c));
  const uint64_t limit = base == 16 ? 0xFFFFFFFFu : negative ? 0x80000000u : 0x7FFFFFFFu;
  if (magnitude > limit) return std::nullopt;
  const auto bits = static_cast<uint32_t>(magnitude);
  return static_cast<int32_t>(negative ? ~bits + 1u : bits);
}

std::string Trim(std::string_view AText) {
  std::string result(AText);
  while (!result.empty() && static_cast<unsigned char>(result.back()) <= 32) result.pop_back();
  size_t first = 0;
  while (first < result.size() && static_cast<unsigned char>(result[first]) <= 32) ++first;
  return result.substr(first);
}

std::string UpperAscii(std::string_view AText) {
  std::string result;
  for (const char c : AText) result.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
  return result;
}

bool IsDottedQuad(std::string_view AText) {
  const std::vector<std::string_view> fields = Fields(AText);
  if (fields.size() != 4) return false;
  return std::all_of(fields.begin(), fields.end(), [](std::string_view AField) {
    const std::optional<int32_t> value = Number(AField);
    return value && *value >= 0 && *value <= 255;
  });
}

std::optional<std::array<uint8_t, 4>> ParseAddress(std::string_view AText) {
  std::vector<std::string_view> fields = Fields(AText);
  // Missing fields are empty ones.
  fields.resize(std::max<size_t>(fields.size(), 4));
  std::array<uint8_t, 4> address{};
  for (size_t i = 0; i < 4; ++i) {
    const std::optional<int32_t> value = Number(fields[i]);
    if (!value) return std::nullopt;
    address[i] = static_cast<uint8_t>(static_cast<uint32_t>(*value) & 0xFF);
  }
  return address;
}

size_t Find(std::string_view ANeedle, std::string_view AHaystack) {
  if (ANeedle.empty()) return std::string_view::npos;
  for (size_t i = 0; i + ANeedle.size() <= AHaystack.size(); ++i) {
    if (AHaystack.substr(i, ANeedle.size()) == ANeedle) return i;
  }
  return std::string_view::npos;
}

TLineOutcome SplitLine(std::string_view ABuffer, std::string_view ATerminator, size_t AMax) {
  const size_t at = Find(ATerminator, ABuffer);
  const size_t length = at == std::string_view::npos ? ABuffer.size() : at;
  if (AMax != 0 && length > AMax) return {TLineOutcome::lkTooLong, {}, 0};
  if (at == std::string_view::npos) return {TLineOutcome::lkIncomplete, {}, 0};
  std::string line(ABuffer.substr(0, at));
  if (ATerminator == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
  return {TLineOutcome::lkLine, std::move(line), at + ATerminator.size()};
}

}  // namespace qor::fuzz::ref
