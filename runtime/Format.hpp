#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace qor {

// One argument of a message format: a signed 32-bit integer (%d) or a byte string (%s).
using FormatArg = std::variant<int32_t, std::string>;

// Fills "%d" and "%s" in turn from AArgs; "%%" is a percent sign. A placeholder without an argument
// of its kind, or an unknown one, raises EConvertError. Arguments left over are ignored.
std::string Format(std::string_view AFormat, std::span<const FormatArg> AArgs);
inline std::string Format(std::string_view AFormat, std::initializer_list<FormatArg> AArgs) {
  return Format(AFormat, std::span<const FormatArg>(AArgs.begin(), AArgs.size()));
}

}  // namespace qor
