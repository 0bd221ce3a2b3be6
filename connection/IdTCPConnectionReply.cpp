// The numeric replies of a connection: reading one into LastReply, checking its code, and raising
// a refused reply as an error.

#include <algorithm>
#include <cstdint>

#include "qorclnt/connection/IdTCPConnection.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/runtime/Strings.hpp"

namespace qor {

namespace {

// The reply text as an error message: every line followed by LF.
std::string ReplyMessage(const TIdRFCReply& AReply) {
  std::string message;
  for (const std::string& line : AReply.Text()) message += line + '\n';
  return message;
}

}  // namespace

void TIdTCPConnection::ReadReplyLines() {
  std::vector<std::string> lines;
  std::string line = ReadLnNonBlank(INT32_MAX);
  lines.push_back(line);
  if (line.size() > 3 && line[3] == '-') {
    // A trimmed last line of the code and a space alone is three bytes long and ends the reply too.
    const std::string last = UpperCaseAscii(line.substr(0, 3) + ' ');
    do {
      line = ReadLnNonBlank(INT32_MAX);
      lines.push_back(line);
    } while (line.size() >= 4 && UpperCaseAscii(line.substr(0, 4)) != last);
  }
  FLastReply.ParseLines(lines);
}

int16_t TIdTCPConnection::CheckReplyCode(int16_t ACode, const TIdReplyCodes& AAllowed) {
  if (!AAllowed.empty() && std::find(AAllowed.begin(), AAllowed.end(), ACode) == AAllowed.end()) {
    RaiseReplyError();
  }
  return ACode;
}

int16_t TIdTCPConnection::ReadReply(const TIdReplyCodes& AAllowed) {
  ReadReplyLines();
  return CheckReplyCode(static_cast<int16_t>(FLastReply.NumericCode()), AAllowed);
}

int16_t TIdTCPConnection::SendCommand(const std::string& ACommand, const TIdReplyCodes& AAllowed) {
  WriteLn(ACommand);
  return ReadReply(AAllowed);
}

void TIdTCPConnection::RaiseReplyError() {
  Raise(EIdProtocolReplyError::CreateWithCode(FLastReply.NumericCode(), ReplyMessage(FLastReply)));
}

void TIdTCPConnection::RaiseReplyError(ExceptClass AKind) {
  AKind.Raise(ReplyMessage(FLastReply));
}

}  // namespace qor
