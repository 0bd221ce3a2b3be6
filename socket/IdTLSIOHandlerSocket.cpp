#include "qorclnt/socket/IdTLSIOHandlerSocket.hpp"

#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"

namespace qor {

TIdTLSIOHandlerSocket::TIdTLSIOHandlerSocket(TComponent* AOwner) : TIdIOHandlerSocket(AOwner) {}

TIdTLSIOHandlerSocket::~TIdTLSIOHandlerSocket() {
  EndSession();
}

ssl_ctx_st* TIdTLSIOHandlerSocket::Context() {
  if (!FContext) FContext = NewTLSClientContext(FSettings);
  return FContext.get();
}

void TIdTLSIOHandlerSocket::EndSession() {
  if (FSession && IsConnected()) FSession->Shutdown();
  FSession.reset();
}

void TIdTLSIOHandlerSocket::Close() {
  EndSession();
  TIdIOHandlerSocket::Close();
}

void TIdTLSIOHandlerSocket::ConnectTo(const std::string& AHost, int32_t APort, const std::string& ABoundIP,
                                      int32_t ABoundPort, int32_t ABoundPortMin, int32_t ABoundPortMax,
                                      int32_t ATimeout) {
  EndSession();
  Context();  // a setting that cannot work fails before the connect
  FHost = AHost;
  FConnectWait = TIdWait::ForConnect(ATimeout).value_or(TIdWait::Unlimited());
  TIdIOHandlerSocket::ConnectTo(AHost, APort, ABoundIP, ABoundPort, ABoundPortMin, ABoundPortMax, ATimeout);
}

void TIdTLSIOHandlerSocket::AfterConnect(int32_t ATimeLeft) {
  if (FPassThrough) return;
  Handshake(TIdWait::Of(ATimeLeft));
}

void TIdTLSIOHandlerSocket::StartTLS() {
  if (FSession) Raise(EIdTLSStartRefused(RSTLSStartActive));
  if (!IsConnected()) Raise(EIdClosedSocket(RSClosedSocket));
  Handshake(FConnectWait);
}

void TIdTLSIOHandlerSocket::Handshake(TIdWait AWait) {
  FPeerName = PeerNameOf(FServerName.empty() ? FHost : FServerName);
  try {
    FSession = std::make_unique<TIdTLSSession>(Context(), Socket()->Descriptor());
    FSession->SetPeerName(FPeerName, FSettings.VerifyPeer);
    FSession->Handshake(AWait);
  } catch (...) {
    // No application byte may pass a connection whose handshake failed.
    Close();
    CheckAborted();  // an Abort's wake-up is no failure of TLS
    throw;
  }
}

int32_t TIdTLSIOHandlerSocket::BytesHeld() {
  return FSession ? FSession->Decrypted() : 0;
}

TIdIOResult TIdTLSIOHandlerSocket::RawWaitReadable(int32_t ATimeout) {
  if (!FSession) return SocketWaitReadable(ATimeout);
  if (!IsConnected()) Raise(EIdConnClosedGracefully(RSConnectionClosedGracefully));
  // The socket's own wait (with its idle turns), until TLS has something to give: a record without
  // application data (a session ticket, a key update) or a part of one does not end the wait.
  const TIdDeadline deadline(TIdWait::Of(ATimeout));
  for (;;) {
    if (FSession->WaitReadable(TIdWait::Of(0))) return TIdIOResult::Moved(1);
    const TIdIOResult ready = SocketWaitReadable(deadline.Left().Ms());
    if (ready.Count <= 0) return ready;
  }
}

TIdIOResult TIdTLSIOHandlerSocket::RawReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) {
  if (!FSession) return SocketReceive(ABuffer, ALength, ATimeout);
  if (!IsConnected()) Raise(EIdClosedSocket(RSClosedSocket));
  try {
    return FSession->Receive(ABuffer, ALength, TIdWait::Of(ATimeout));
  } catch (const EIdTLSError&) {
    // A truncated stream or a fatal alert ends the connection as a peer's close does.
    Close();
    CheckAborted();
    throw;
  }
}

TIdIOResult TIdTLSIOHandlerSocket::RawSend(const void* ABuffer, int32_t ALength) {
  if (!FSession) return SocketSend(ABuffer, ALength);
  if (!IsConnected()) Raise(EIdClosedSocket(RSClosedSocket));
  try {
    return FSession->Send(ABuffer, ALength);
  } catch (const EIdTLSError&) {
    Close();
    CheckAborted();
    throw;
  }
}

std::string TIdTLSIOHandlerSocket::TLSVersion() const {
  return TLSActive() ? FSession->Version() : std::string();
}

std::string TIdTLSIOHandlerSocket::TLSCipher() const {
  return TLSActive() ? FSession->Cipher() : std::string();
}

std::string TIdTLSIOHandlerSocket::VerifiedName() const {
  return TLSActive() && FSettings.VerifyPeer ? FPeerName : std::string();
}

}  // namespace qor
