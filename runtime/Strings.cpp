#include "qorclnt/runtime/Strings.hpp"

#include <climits>
#include <cwchar>
#include <cwctype>

#include "qorclnt/runtime/Format.hpp"
#include "qorclnt/runtime/RuntimeErrors.hpp"
#include "qorclnt/runtime/RuntimeStrings.hpp"

namespace qor {

std::string Trim(std::string_view AText) {
  return std::string(TrimView(AText));
}

std::string_view TrimView(std::string_view AText) {
  size_t first = 0;
  size_t last = AText.size();
  while (first < last && IsBlankChar(AText[first])) ++first;
  while (last > first && IsBlankChar(AText[last - 1])) --last;
  return AText.substr(first, last - first);
}

namespace {

// Printable ASCII stands for itself in the encoding of every locale, outside a shift state: only a
// small letter's case mapping is asked, and the rest is kept as it is. False for a byte that needs
// the full way: one outside printable ASCII, or a small letter whose capital is not ASCII (the dotted
// I of Turkic locales).
bool AsciiUpper(char AByte, char& VUpper) {
  const auto byte = static_cast<unsigned char>(AByte);
  if (byte < 0x20 || byte >= 0x7F) return false;
  const wint_t upper = byte >= 'a' && byte <= 'z' ? std::towupper(byte) : byte;
  if (upper >= 0x80) return false;
  VUpper = static_cast<char>(upper);
  return true;
}

}  // namespace

std::string UpperCase(std::string_view AText) {
  // A command is mostly printable ASCII: copied at once and mapped in place, up to the first byte that
  // needs the full way; the conversions both ways cost far more.
  std::string result(AText);
  size_t pos = 0;
  while (pos < result.size() && AsciiUpper(result[pos], result[pos])) ++pos;
  if (pos == result.size()) return result;
  result.resize(pos);
  std::mbstate_t in{};
  bool initial = true;  // no shift state pending: what mbsinit says of in
  while (pos < AText.size()) {
    char upper = 0;
    if (initial && AsciiUpper(AText[pos], upper)) {
      result.push_back(upper);
      ++pos;
      continue;
    }
    wchar_t wc = 0;
    const size_t used = std::mbrtowc(&wc, AText.data() + pos, AText.size() - pos, &in);
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
      // Not a character of the locale: keep the byte and start decoding afresh after it.
      result.push_back(AText[pos]);
      in = std::mbstate_t{};
      initial = true;
      ++pos;
      continue;
    }
    const size_t length = used == 0 ? 1 : used;  // an embedded NUL is one byte
    char out[MB_LEN_MAX];
    std::mbstate_t outState{};
    const size_t written =
        std::wcrtomb(out, static_cast<wchar_t>(std::towupper(static_cast<wint_t>(wc))), &outState);
    if (written == static_cast<size_t>(-1)) {
      result.append(AText.data() + pos, length);
    } else {
      result.append(out, written);
    }
    pos += length;
    initial = std::mbsinit(&in) != 0;
  }
  return result;
}

std::string UpperCaseAscii(std::string_view AText) {
  std::string result(AText);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

bool TryStrToInt(std::string_view AText, int32_t& AValue) {
  size_t pos = 0;
  while (pos < AText.size() && AText[pos] == ' ') ++pos;
  bool negative = false;
  if (pos < AText.size() && (AText[pos] == '-' || AText[pos] == '+')) {
    negative = AText[pos] == '-';
    ++pos;
  }
  int base = 10;
  if (pos < AText.size() && (AText[pos] == '$' || AText[pos] == 'x' || AText[pos] == 'X')) {
    base = 16;
    ++pos;
  } else if (pos + 1 < AText.size() && AText[pos] == '0' &&
             (AText[pos + 1] == 'x' || AText[pos + 1] == 'X')) {
    base = 16;
    pos += 2;
  }
  if (pos == AText.size()) return false;
  // Decimal values may reach 2^31 (for -2147483648); hexadecimal ones fill 32 bits.
  const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  uint64_t value = 0;
  for (; pos < AText.size(); ++pos) {
    const int digit = DigitValue(AText[pos]);
    if (digit >= base) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > limit) return false;
  }
  const uint32_t bits = static_cast<uint32_t>(value);
  AValue = static_cast<int32_t>(negative ? 0u - bits : bits);
  return true;
}

int32_t StrToIntDef(std::string_view AText, int32_t ADefault) {
  int32_t value = 0;
  return TryStrToInt(AText, value) ? value : ADefault;
}

int32_t StrToInt(std::string_view AText) {
  int32_t value = 0;
  if (!TryStrToInt(AText, value)) {
    Raise(EConvertError(Format(RSInvalidInteger, {std::string(AText)})));
  }
  return value;
}

}  // namespace qor
