#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "qorclnt/socket/IdTLSContext.hpp"
#include "qorclnt/socket/IdTLSSession.hpp"

namespace qor {

// The socket handler with TLS over OpenSSL between the socket (and any SOCKS proxy) and the
// connection: the handshake is part of ConnectTo, or, with PassThrough, of a later StartTLS. Reads,
// waits, writes and closes behave as over TCP; a close_notify from the peer is its graceful close,
// and a TCP close without it raises EIdTLSTruncated after the socket has been closed.
//
// The peer is verified by default, against the system's store, as the host that ConnectTo was given
// (never a proxy, never the resolved address) unless ServerName names another.
class TIdTLSIOHandlerSocket : public TIdIOHandlerSocket {
 public:
  explicit TIdTLSIOHandlerSocket(TComponent* AOwner);
  ~TIdTLSIOHandlerSocket() override;

  // Sends close_notify (without waiting), then closes the socket.
  void Close() override;
  // Checks the settings before anything else (EIdTLSSetupError), then connects; unless PassThrough,
  // the handshake follows within the time the connect has left.
  void ConnectTo(const std::string& AHost, int32_t APort, const std::string& ABoundIP, int32_t ABoundPort,
                 int32_t ABoundPortMin, int32_t ABoundPortMax, int32_t ATimeout) override;
  // Runs the handshake on the open plaintext connection, within the time-out of the last ConnectTo.
  // EIdTLSStartRefused when TLS is already active; on a failure the socket is closed.
  void StartTLS() override;

  // True once a handshake has succeeded on the open connection.
  bool TLSActive() const noexcept { return FSession != nullptr && FSession->Established(); }
  // Of the active connection: "TLSv1.3", "TLS_AES_256_GCM_SHA384", and the name the peer was
  // verified as (empty when not verified).
  std::string TLSVersion() const;
  std::string TLSCipher() const;
  std::string VerifiedName() const;

  bool VerifyPeer() const noexcept { return FSettings.VerifyPeer; }
  void SetVerifyPeer(bool AValue) { ChangeSetting(&TIdTLSSettings::VerifyPeer, AValue); }
  const std::string& CAFile() const noexcept { return FSettings.CAFile; }
  void SetCAFile(const std::string& AValue) { ChangeSetting(&TIdTLSSettings::CAFile, AValue); }
  const std::string& CAPath() const noexcept { return FSettings.CAPath; }
  void SetCAPath(const std::string& AValue) { ChangeSetting(&TIdTLSSettings::CAPath, AValue); }
  const std::string& CertFile() const noexcept { return FSettings.CertFile; }
  void SetCertFile(const std::string& AValue) { ChangeSetting(&TIdTLSSettings::CertFile, AValue); }
  const std::string& KeyFile() const noexcept { return FSettings.KeyFile; }
  void SetKeyFile(const std::string& AValue) { ChangeSetting(&TIdTLSSettings::KeyFile, AValue); }
  TIdTLSVersion MinVersion() const noexcept { return FSettings.MinVersion; }
  void SetMinVersion(TIdTLSVersion AValue) { ChangeSetting(&TIdTLSSettings::MinVersion, AValue); }
  // The name to verify and send as SNI; empty: the host given to ConnectTo.
  const std::string& ServerName() const noexcept { return FServerName; }
  void SetServerName(const std::string& AValue) { FServerName = AValue; }
  // False (the default): TLS from the first byte. True: plaintext until StartTLS.
  bool PassThrough() const noexcept { return FPassThrough; }
  void SetPassThrough(bool AValue) noexcept { FPassThrough = AValue; }

 protected:
  // Without TLS these are the socket's; with it they go through the TLS connection. A truncated
  // stream or a fatal alert closes the socket and raises (EIdTLSTruncated, EIdTLSError).
  TIdIOResult RawWaitReadable(int32_t ATimeout) override;
  TIdIOResult RawReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) override;
  TIdIOResult RawSend(const void* ABuffer, int32_t ALength) override;
  // Decrypted bytes waiting to be read.
  int32_t BytesHeld() override;
  void AfterConnect(int32_t ATimeLeft) override;

 private:
  // The context for the current settings, made (and checked) on first use after a change.
  ssl_ctx_st* Context();
  // Starts TLS on the connected socket within AWait; closes the socket when that fails.
  void Handshake(TIdWait AWait);
  void EndSession();
  // Sets one of the settings the context is made of; the context is made anew on its next use.
  template <class TValue>
  void ChangeSetting(TValue TIdTLSSettings::*ASetting, const TValue& AValue) {
    FSettings.*ASetting = AValue;
    FContext.reset();
  }

  TIdTLSSettings FSettings;
  std::string FServerName;
  bool FPassThrough = false;
  TIdSSLContext FContext;
  std::unique_ptr<TIdTLSSession> FSession;
  std::string FPeerName;                        // the name checked in the last handshake
  std::string FHost;                            // the host of the last ConnectTo
  TIdWait FConnectWait = TIdWait::Unlimited();  // the handshake's time, from the last ConnectTo
};

}  // namespace qor
