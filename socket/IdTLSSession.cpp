#include "qorclnt/socket/IdTLSSession.hpp"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/Format.hpp"

namespace qor {

namespace {

// A receive or send that found nothing to do: interrupted, or ended by a time-out that the socket
// carries from its plaintext or SOCKS phase. The deadline, not the socket, decides when to give up.
bool Retryable(int32_t AError) {
  return AError == EINTR || AError == EAGAIN || AError == EWOULDBLOCK;
}

TIdTLSSession* SessionOf(BIO* ABio) {
  return static_cast<TIdTLSSession*>(BIO_get_data(ABio));
}

int ReadHook(BIO* ABio, char* ABuffer, int ALength) {
  BIO_clear_retry_flags(ABio);
  bool retry = false;
  const int32_t n = SessionOf(ABio)->BioRead(ABuffer, ALength, retry);
  if (retry) BIO_set_retry_read(ABio);
  return n;
}

int WriteHook(BIO* ABio, const char* ABuffer, int ALength) {
  BIO_clear_retry_flags(ABio);
  return SessionOf(ABio)->BioWrite(ABuffer, ALength);
}

long ControlHook(BIO* /*ABio*/, int ACommand, long /*ANumber*/, void* /*APointer*/) {
  return ACommand == BIO_CTRL_FLUSH ? 1 : 0;  // nothing is buffered here
}

int CreateHook(BIO* ABio) {
  BIO_set_init(ABio, 1);
  return 1;
}

struct TBioMethodFree {
  void operator()(BIO_METHOD* AMethod) const noexcept { BIO_meth_free(AMethod); }
};

// The socket BIO's method table, made once for the process (thread-safe as a function static).
const BIO_METHOD* SocketMethod() {
  static const std::unique_ptr<BIO_METHOD, TBioMethodFree> method([] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "qorclnt socket");
    BIO_meth_set_read(m, ReadHook);
    BIO_meth_set_write(m, WriteHook);
    BIO_meth_set_ctrl(m, ControlHook);
    BIO_meth_set_create(m, CreateHook);
    return m;
  }());
  return method.get();
}

}  // namespace

TIdTLSSession::TIdTLSSession(ssl_ctx_st* AContext, TIdStackSocketHandle ADescriptor)
    : FDescriptor(ADescriptor), FWaitList(1, ADescriptor) {
  ERR_clear_error();
  FSSL = SSL_new(AContext);
  BIO* const bio = FSSL == nullptr ? nullptr : BIO_new(SocketMethod());
  if (bio == nullptr) {
    SSL_free(FSSL);
    Raise(EIdTLSError(Format(RSTLSError, {TakeTLSErrorReason()})));
  }
  BIO_set_data(bio, this);
  SSL_set_bio(FSSL, bio, bio);
  // OpenSSL takes in whatever the socket holds, not a record's header and then its body: half the
  // receives on a long reply. What it holds beyond a record is processed before any wait.
  SSL_set_read_ahead(FSSL, 1);
}

TIdTLSSession::~TIdTLSSession() {
  SSL_free(FSSL);
}

void TIdTLSSession::SetPeerName(const std::string& AName, bool AVerify) {
  SetTLSPeerName(FSSL, AName, AVerify);
}

void TIdTLSSession::SetDeadline(TIdWait AWait) {
  FTimedOut = false;
  FDeadline = TIdDeadline(AWait);
}

bool TIdTLSSession::WaitForDeadline() {
  const TIdWait left = FDeadline.Left();
  if (left.IsUnlimited()) return true;  // the receive blocks as long as it must
  if (!left.IsAllowed()) return false;  // as a time that has run out
  FWaitList.assign(1, FDescriptor);
  const int32_t ready = CurrentStack->WaitForSockets(&FWaitList, nullptr, nullptr, left.Ms());
  return ready != 0;  // a failed wait lets the receive report the failure
}

int32_t TIdTLSSession::BioRead(char* ABuffer, int32_t ALength, bool& VRetry) {
  // Bytes already waiting are taken at once, without a wait first: in a long reply they nearly always
  // are. Only an empty socket is waited on, up to the deadline.
  int32_t flags = MSG_DONTWAIT;
  for (;;) {
    const int32_t n = CurrentStack->ReceiveData(FDescriptor, ABuffer, ALength, flags);
    if (n >= 0) return n;
    const int32_t error = CurrentStack->LastSystemError();
    if (!Retryable(error)) {
      FSystemError = error;
      return -1;
    }
    if (error == EINTR) continue;
    if (!WaitForDeadline()) {
      FTimedOut = true;
      VRetry = true;
      return -1;
    }
    // Without a deadline the receive blocks; with one, the wait said when to look again.
    flags = FDeadline.End() ? MSG_DONTWAIT : 0;
  }
}

int32_t TIdTLSSession::BioWrite(const char* ABuffer, int32_t ALength) {
  for (;;) {
    const int32_t n = CurrentStack->SendData(FDescriptor, ABuffer, ALength, FNoWait ? MSG_DONTWAIT : 0);
    if (n >= 0) return n;
    const int32_t error = CurrentStack->LastSystemError();
    if (FNoWait || !Retryable(error)) {
      FSystemError = error;
      return -1;
    }
  }
}

void TIdTLSSession::Handshake(TIdWait AWait) {
  SetDeadline(AWait);
  FSystemError = 0;
  ERR_clear_error();
  const int result = SSL_connect(FSSL);
  const int error = SSL_get_error(FSSL, result);
  if (result == 1) return;
  FEnd = reFailed;
  if (error == SSL_ERROR_WANT_READ && FTimedOut) {
    ERR_clear_error();
    Raise(EIdTLSHandshakeTimeout(RSTLSHandshakeTimeout));
  }
  const long verified = SSL_get_verify_result(FSSL);
  if (verified != X509_V_OK) {
    ERR_clear_error();
    Raise(EIdTLSVerifyError::CreateWithCode(
        static_cast<int32_t>(verified),
        Format(RSTLSVerifyFailed, {X509_verify_cert_error_string(verified)})));
  }
  if (error == SSL_ERROR_SYSCALL) {
    ERR_clear_error();
    if (FSystemError != 0) Raise(EIdTLSError(Format(RSTLSFailed, {std::strerror(FSystemError)})));
    Raise(EIdTLSError(RSTLSPeerClosed));
  }
  Raise(EIdTLSError(Format(RSTLSFailed, {TakeTLSErrorReason()})));
}

int32_t TIdTLSSession::Decrypted() const {
  return FEnd == reData ? SSL_pending(FSSL) : 0;
}

TIdTLSSession::TReadEnd TIdTLSSession::Read(void* AData, int32_t ALength, int32_t& VCount) {
  if (FEnd != reData) return FEnd;
  FSystemError = 0;
  char probe;
  ERR_clear_error();
  const int result = AData == nullptr ? SSL_peek(FSSL, &probe, 1) : SSL_read(FSSL, AData, ALength);
  const int error = SSL_get_error(FSSL, result);
  if (result > 0) {
    VCount = result;
    return reData;
  }
  switch (error) {
    case SSL_ERROR_ZERO_RETURN:
      FEnd = reClosed;
      break;
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      return reTimeOut;
    case SSL_ERROR_SYSCALL:
      // A socket failure is the socket's (the caller sees it as over TCP); an end of the stream
      // without close_notify is a truncation.
      if (FSystemError != 0) {
        ERR_clear_error();
        return reSystem;
      }
      FEnd = reTruncated;
      break;
    default: {
      const unsigned long code = ERR_peek_error();
      FEnd = ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING ? reTruncated : reFailed;
      FFailure = Format(RSTLSError, {TakeTLSErrorReason()});
      break;
    }
  }
  ERR_clear_error();
  return FEnd;
}

bool TIdTLSSession::WaitReadable(TIdWait AWait) {
  // Bytes OpenSSL holds (a part of a record, say) are taken in by the peek without a wait on the
  // socket; only what is still missing is waited for.
  if (Decrypted() > 0 || FEnd != reData) return true;
  SetDeadline(AWait);
  int32_t count = 0;
  return Read(nullptr, 0, count) != reTimeOut;
}

TIdIOResult TIdTLSSession::Receive(void* ABuffer, int32_t ALength, TIdWait AWait) {
  SetDeadline(AWait);
  int32_t count = 0;
  switch (Read(ABuffer, ALength, count)) {
    case reData:
      return TIdIOResult::Moved(count);
    case reClosed:
      return TIdIOResult::Moved(0);
    case reTimeOut:
      return TIdIOResult::Expired();
    case reSystem:
      return TIdIOResult::Failure(FSystemError);
    default:
      RaiseFailure();
  }
}

void TIdTLSSession::RaiseFailure() const {
  if (FEnd == reTruncated) Raise(EIdTLSTruncated(RSTLSTruncated));
  Raise(EIdTLSError(FFailure));
}

TIdIOResult TIdTLSSession::Send(const void* ABuffer, int32_t ALength) {
  if (FEnd == reFailed || FEnd == reTruncated) RaiseFailure();
  SetDeadline(TIdWait::Unlimited());
  FSystemError = 0;
  ERR_clear_error();
  const int result = SSL_write(FSSL, ABuffer, ALength);
  const int error = SSL_get_error(FSSL, result);
  if (result > 0) return TIdIOResult::Moved(result);
  if (error == SSL_ERROR_SYSCALL && FSystemError != 0) {
    ERR_clear_error();
    return TIdIOResult::Failure(FSystemError);
  }
  FEnd = reFailed;
  FFailure = Format(RSTLSError, {TakeTLSErrorReason()});
  RaiseFailure();
}

void TIdTLSSession::Shutdown() {
  if (FEnd == reFailed || FEnd == reTruncated || !Established()) return;
  FNoWait = true;
  ERR_clear_error();
  const int result = SSL_shutdown(FSSL);
  SSL_get_error(FSSL, result);  // whatever it was, the socket closes next
  ERR_clear_error();
  FNoWait = false;
}

bool TIdTLSSession::Established() const noexcept {
  return SSL_is_init_finished(FSSL) == 1;
}

std::string TIdTLSSession::Version() const {
  return SSL_get_version(FSSL);
}

std::string TIdTLSSession::Cipher() const {
  const char* const name = SSL_get_cipher_name(FSSL);
  return name != nullptr ? name : "";
}

}  // namespace qor
