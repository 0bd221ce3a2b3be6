#include "qorclnt/socket/IdStack.hpp"

#include <algorithm>
#include <atomic>
#include <utility>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/Format.hpp"
#include "qorclnt/runtime/Strings.hpp"

namespace qor {

std::unique_ptr<TIdStack> CurrentStack;

namespace {

// Texts of the Linux system error numbers that socket calls report.
constexpr std::pair<int32_t, const char*> ErrorTexts[] = {
    {4, RSStackEINTR},
    {9, RSStackEBADF},
    {11, RSStackEAGAIN},
    {13, RSStackEACCES},
    {14, RSStackEFAULT},
    {22, RSStackEINVAL},
    {24, RSStackEMFILE},
    {36, RSStackENAMETOOLONG},
    {39, RSStackENOTEMPTY},
    {40, RSStackELOOP},
    {88, RSStackENOTSOCK},
    {89, RSStackEDESTADDRREQ},
    {90, RSStackEMSGSIZE},
    {91, RSStackEPROTOTYPE},
    {92, RSStackENOPROTOOPT},
    {93, RSStackEPROTONOSUPPORT},
    {94, RSStackESOCKTNOSUPPORT},
    {95, RSStackEOPNOTSUPP},
    {96, RSStackEPFNOSUPPORT},
    {97, RSStackEAFNOSUPPORT},
    {98, RSStackEADDRINUSE},
    {99, RSStackEADDRNOTAVAIL},
    {100, RSStackENETDOWN},
    {101, RSStackENETUNREACH},
    {102, RSStackENETRESET},
    {103, RSStackECONNABORTED},
    {104, RSStackECONNRESET},
    {105, RSStackENOBUFS},
    {106, RSStackEISCONN},
    {107, RSStackENOTCONN},
    {108, RSStackESHUTDOWN},
    {109, RSStackETOOMANYREFS},
    {110, RSStackETIMEDOUT},
    {111, RSStackECONNREFUSED},
    {112, RSStackEHOSTDOWN},
    {113, RSStackEHOSTUNREACH},
    {114, RSStackEALREADY},
    {115, RSStackEINPROGRESS},
};

// True when the number rule reads AField as a value from 0 to 255.
bool IsOctet(std::string_view AField) {
  int32_t value = 0;
  return TryStrToInt(AField, value) && value >= 0 && value <= 255;
}

// The calling thread's last failure seen by CheckSocketResult: the serial of the stack that saw it
// and its error number.
struct TThreadError {
  uint32_t Stack = 0;
  int32_t Code = 0;
};
thread_local TThreadError LastThreadError;

// Serials of the stacks made so far; 0 is none.
std::atomic<uint32_t> NextStackSerial{1};

}  // namespace

TIdStack::TIdStack() : FSerial(NextStackSerial.fetch_add(1, std::memory_order_relaxed)) {}

int32_t TIdStack::LastErrorCode() const noexcept {
  return LastThreadError.Stack == FSerial ? LastThreadError.Code : 0;
}

std::unique_ptr<TIdStack> TIdStack::NewStack() {
  return StackClass();
}

std::string TIdStack::ErrorText(int32_t AErrorCode) {
  const auto* row = std::find_if(std::begin(ErrorTexts), std::end(ErrorTexts),
                                 [AErrorCode](const auto& entry) { return entry.first == AErrorCode; });
  const char* text = row == std::end(ErrorTexts) ? "" : row->second;
  return Format(RSSocketError, {AErrorCode, std::string(text)});
}

bool TIdStack::CheckSocketResult(int32_t AResult, std::initializer_list<int32_t> AIgnore) {
  return AResult == -1 && CheckSocketError(LastSystemError(), AIgnore);
}

bool TIdStack::CheckSocketError(int32_t AError, std::initializer_list<int32_t> AIgnore) {
  LastThreadError = {FSerial, AError};
  if (std::find(AIgnore.begin(), AIgnore.end(), AError) != AIgnore.end()) return true;
  RaiseErrorCode(AError);
}

void TIdStack::RaiseErrorCode(int32_t ACode) {
  Raise(EIdSocketError::CreateWithCode(ACode, ErrorText(ACode)));
}

TIdStackSocketHandle TIdStack::CreateIPv4Socket(int32_t ASocketType, int32_t AProtocol) {
  const TIdStackSocketHandle handle = NewSocket(Id_PF_INET, ASocketType, AProtocol);
  if (handle == -1) Raise(EIdInvalidSocket(RSCannotAllocateSocket));
  return handle;
}

std::string TIdStack::HostToAddress(const std::string& AHost) {
  if (UpperCaseAscii(AHost) == "LOCALHOST") return "127.0.0.1";
  if (IsDottedQuad(AHost)) return AHost;
  return LookupHostAddress(AHost);
}

std::string_view TIdStack::CutAddressField(std::string_view& ARest) {
  const size_t dot = ARest.find('.');
  const std::string_view field = ARest.substr(0, dot);
  ARest = dot == std::string_view::npos ? std::string_view() : ARest.substr(dot + 1);
  return field;
}

bool TIdStack::IsDottedQuad(const std::string& AText) {
  std::string_view rest = AText;
  for (int field = 0; field < 3; ++field) {
    if (!IsOctet(CutAddressField(rest))) return false;
  }
  return IsOctet(rest);  // the fourth field is all that is left, dots included
}

uint32_t TIdStack::ParseAddressValue(const std::string& AText) {
  TIdIn4Addr address{};
  ParseAddress(AText, address);
  uint32_t value = 0;
  static_assert(sizeof value == sizeof address);
  std::copy(address.begin(), address.end(), reinterpret_cast<uint8_t*>(&value));
  return value;
}

}  // namespace qor
