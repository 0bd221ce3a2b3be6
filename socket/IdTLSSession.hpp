#pragma once

#include <cstdint>
#include <string>

#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/socket/IdIOResult.hpp"
#include "qorclnt/socket/IdStack.hpp"
#include "qorclnt/socket/IdTLSContext.hpp"

namespace qor {

// One TLS connection over a connected socket descriptor, as a client. Its bytes go through a BIO of
// this system's own whose sends and receives are CurrentStack's (sends never raise SIGPIPE), and
// whose receives wait for readability only up to the deadline of the call that needs them, so that a
// time-out leaves the connection usable. Every OpenSSL call is preceded by ERR_clear_error and
// followed at once by SSL_get_error. Used from one thread at a time.
class TIdTLSSession {
 public:
  // The descriptor stays the caller's; the context must outlive the session.
  TIdTLSSession(ssl_ctx_st* AContext, TIdStackSocketHandle ADescriptor);
  ~TIdTLSSession();
  TIdTLSSession(const TIdTLSSession&) = delete;
  TIdTLSSession& operator=(const TIdTLSSession&) = delete;

  // Checks the peer as AName (see SetTLSPeerName) unless AVerify is false; call before Handshake.
  void SetPeerName(const std::string& AName, bool AVerify);
  // Runs the handshake within AWait. Raises EIdTLSHandshakeTimeout, EIdTLSVerifyError with the
  // verifier's reason, or EIdTLSError with OpenSSL's.
  void Handshake(TIdWait AWait);
  // Application bytes already decrypted, ready for the next receive without any wait.
  int32_t Decrypted() const;
  // Waits up to AWait for application data, the peer's close_notify or a failure; false when the
  // time ran out. Records that are no application data (session tickets, key updates) are taken in
  // without ending the wait.
  bool WaitReadable(TIdWait AWait);
  // One read of up to ALength bytes that waits up to AWait for them: the count (0 after the peer's
  // close_notify), the time-out, or the failure of the socket. Raises EIdTLSTruncated when the peer
  // closed without close_notify, EIdTLSError for an alert or a broken record.
  TIdIOResult Receive(void* ABuffer, int32_t ALength, TIdWait AWait);
  // Sends up to ALength bytes: the count or the failure of the socket. Raises EIdTLSError for a
  // failure of TLS itself.
  TIdIOResult Send(const void* ABuffer, int32_t ALength);
  // Sends close_notify when the connection is still sound, without waiting for the socket to take it.
  void Shutdown();
  // True once the handshake has succeeded.
  bool Established() const noexcept;

  // "TLSv1.3", "TLS_AES_256_GCM_SHA384".
  std::string Version() const;
  std::string Cipher() const;

  // For the BIO: the receive and send of the socket.
  int32_t BioRead(char* ABuffer, int32_t ALength, bool& VRetry);
  int32_t BioWrite(const char* ABuffer, int32_t ALength);

 private:
  // How a read ended, for one outcome that both WaitReadable and Receive see.
  enum TReadEnd : uint8_t { reData, reTimeOut, reClosed, reSystem, reTruncated, reFailed };
  void SetDeadline(TIdWait AWait);
  // Waits until the descriptor is readable or the deadline passes; true when readable.
  bool WaitForDeadline();
  // Reads (AData null: peeks one byte) and classifies the outcome; lasting ends are kept in FEnd, the
  // socket's error number of reSystem in FSystemError.
  TReadEnd Read(void* AData, int32_t ALength, int32_t& VCount);
  [[noreturn]] void RaiseFailure() const;

  ssl_st* FSSL = nullptr;
  TIdStackSocketHandle FDescriptor;
  TIdDeadline FDeadline{TIdWait::Unlimited()};
  bool FTimedOut = false;
  bool FNoWait = false;      // sends must not block (close_notify)
  int32_t FSystemError = 0;  // the error number of the last failed send or receive
  TReadEnd FEnd = reData;    // a lasting end: reClosed, reTruncated or reFailed
  std::string FFailure;      // the message of reFailed
  TIdSocketDescriptors FWaitList;
};

}  // namespace qor
