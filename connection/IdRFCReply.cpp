#include "qorclnt/connection/IdRFCReply.hpp"

#include "qorclnt/runtime/Strings.hpp"

namespace qor {

void TIdRFCReply::Clear() {
  FNumericCode = 0;
  FText.clear();
  FTextCode.clear();
}

void TIdRFCReply::ParseLines(const std::vector<std::string>& ALines) {
  Clear();
  if (ALines.empty()) return;
  std::string code = Trim(std::string_view(ALines.front()).substr(0, 4));
  if (code.size() == 4 && code[3] == '-') code.resize(3);
  SetTextCode(std::move(code));
  for (const std::string& line : ALines) FText.push_back(line.size() > 4 ? line.substr(4) : std::string());
}

void TIdRFCReply::SetNumericCode(int32_t AValue) {
  FNumericCode = AValue;
  if (AValue > 0) FTextCode = std::to_string(AValue);
}

void TIdRFCReply::SetTextCode(std::string AValue) {
  FTextCode = std::move(AValue);
  if (!FTextCode.empty()) FNumericCode = StrToIntDef(FTextCode, 0);
}

void TIdRFCReply::AssignTo(TPersistent& ADest) const {
  auto* dest = dynamic_cast<TIdRFCReply*>(&ADest);
  if (dest == nullptr) {
    TPersistent::AssignTo(ADest);
    return;
  }
  if (dest == this) return;  // clearing first would lose the contents
  dest->Clear();
  dest->FNumericCode = FNumericCode;
  dest->FText = FText;
  dest->FTextCode = FTextCode;
}

}  // namespace qor
