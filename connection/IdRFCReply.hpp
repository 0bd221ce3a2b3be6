#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qorclnt/runtime/Persistent.hpp"

namespace qor {

// One numeric reply: a code and the text of each of its lines. A line is a three-byte code, a
// separator (a hyphen on every line but the last of a multi-line reply, else a space) and its text.
class TIdRFCReply : public TPersistent {
 public:
  TIdRFCReply() = default;

  const char* ClassName() const noexcept override { return "TIdRFCReply"; }

  // No code, no text.
  void Clear();
  // Takes the lines of one reply: the code from the first line, the text from every line's fifth
  // byte on. The code is not checked for digits: a line without one gives its first four bytes,
  // trimmed, as TextCode and 0 as NumericCode.
  void ParseLines(const std::vector<std::string>& ALines);

  int32_t NumericCode() const noexcept { return FNumericCode; }
  // A positive code also becomes TextCode; zero and negative ones leave TextCode as it is.
  void SetNumericCode(int32_t AValue);

  const std::vector<std::string>& Text() const noexcept { return FText; }
  void SetText(const std::vector<std::string>& AValue) { FText = AValue; }

  const std::string& TextCode() const noexcept { return FTextCode; }
  // A text that is not empty also becomes NumericCode: its value, or 0 when it is not a number.
  void SetTextCode(std::string AValue);

 protected:
  // Copies into another reply; any other target is refused.
  void AssignTo(TPersistent& ADest) const override;

 private:
  int32_t FNumericCode = 0;
  std::vector<std::string> FText;
  std::string FTextCode;
};

}  // namespace qor
