#include "qorclnt/runtime/Format.hpp"

#include <cstdio>

#include "qorclnt/runtime/RuntimeErrors.hpp"
#include "qorclnt/runtime/RuntimeStrings.hpp"

namespace qor {

namespace {

[[noreturn]] void FormatError(std::string_view AFormat) {
  Raise(EConvertError(Format(RSInvalidFormat, {std::string(AFormat)})));
}

}  // namespace

std::string Format(std::string_view AFormat, std::span<const FormatArg> AArgs) {
  std::string result;
  result.reserve(AFormat.size() + 16);
  auto arg = AArgs.begin();
  for (size_t pos = 0; pos < AFormat.size(); ++pos) {
    const char c = AFormat[pos];
    if (c != '%') {
      result.push_back(c);
      continue;
    }
    if (++pos == AFormat.size()) FormatError(AFormat);
    const char kind = AFormat[pos];
    if (kind == '%') {
      result.push_back('%');
      continue;
    }
    if (arg == AArgs.end()) FormatError(AFormat);
    if (kind == 'd' && std::holds_alternative<int32_t>(*arg)) {
      char digits[16];
      const int n = std::snprintf(digits, sizeof digits, "%d", static_cast<int>(std::get<int32_t>(*arg)));
      result.append(digits, static_cast<size_t>(n));
    } else if (kind == 's' && std::holds_alternative<std::string>(*arg)) {
      result += std::get<std::string>(*arg);
    } else {
      FormatError(AFormat);
    }
    ++arg;
  }
  return result;
}

}  // namespace qor
