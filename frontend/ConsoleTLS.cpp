#include "qorclnt/frontend/ConsoleTLS.hpp"

#include <algorithm>

#include "qorclnt/client/qorclss.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/frontend/Messages.hpp"
#include "qorclnt/runtime/Console.hpp"
#include "qorclnt/runtime/Strings.hpp"
#include "qorclnt/socket/IdTLSIOHandlerSocket.hpp"

namespace qor::frontend {

void UseTLS(TIdRUROvoduv& AClient, const TConsoleTLS& ATLS) {
  auto* handler = new TIdTLSIOHandlerSocket(&AClient);
  handler->SetVerifyPeer(!ATLS.NoVerify);
  handler->SetCAFile(ATLS.CAFile);
  handler->OnStatus = AClient.OnStatus;
  AClient.SetIOHandler(handler);
}

void WriteTLSEstablished(TIdRUROvoduv& AClient) {
  const auto* handler = dynamic_cast<const TIdTLSIOHandlerSocket*>(AClient.IOHandler());
  if (handler == nullptr || !handler->TLSActive()) return;
  const std::string verified = handler->VerifiedName();
  std::string line = handler->TLSVersion() + " " + handler->TLSCipher();
  line += verified.empty() ? std::string(MsgTLSNotVerified) : MsgTLSVerifiedAs + verified;
  ConsoleWriteLine(MsgTLSEstablished + UpperCase(line));
}

std::string TLSFailedLine(const EIdTLSError& AError) {
  std::string reason = AError.Message();
  std::replace_if(
      reason.begin(), reason.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return MsgTLSFailed + UpperCase(reason);
}

}  // namespace qor::frontend
