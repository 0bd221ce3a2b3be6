#pragma once

#include <cstdint>
#include <string>

#include "qorclnt/runtime/Exception.hpp"

namespace qor {

// The error family of the network layer. Group kinds (never raised themselves) let a caller catch a
// whole family with one handler.
QOR_ERROR_KIND(EIdException, Exception);
QOR_ERROR_KIND(EIdSilentException, EIdException);
QOR_ERROR_KIND(EIdConnClosedGracefully, EIdSilentException);
QOR_ERROR_KIND(EIdAlreadyConnected, EIdException);
QOR_ERROR_KIND(EIdClosedSocket, EIdException);
QOR_ERROR_KIND(EIdReadTimeout, EIdException);
QOR_ERROR_KIND(EIdReadLnMaxLineLengthExceeded, EIdException);
QOR_ERROR_KIND(EIdInvalidServiceName, EIdException);
QOR_ERROR_KIND(EIdConnectTimeout, EIdException);
QOR_ERROR_KIND(EIdConnectException, EIdException);

// A kind that also carries a number (a reply code, a system or resolver error number) in ErrorCode.
// CreateWithCode(ACode, AMessage) sets the message, then the number; each such kind has its own, so
// that it makes an object of that very class.
#define QOR_CODED_ERROR_KIND(Name, Parent)                                    \
  class Name : public Parent {                                                \
   public:                                                                    \
    explicit Name(std::string AMessage = {}) : Parent(std::move(AMessage)) {} \
    static Name CreateWithCode(int32_t ACode, std::string AMessage) {         \
      Name error(std::move(AMessage));                                        \
      error.SetErrorCode(ACode);                                              \
      return error;                                                           \
    }                                                                         \
    const char* ClassName() const noexcept override { return #Name; }         \
    int32_t ErrorCode() const noexcept { return FErrorCode; }                 \
    void SetErrorCode(int32_t ACode) noexcept { FErrorCode = ACode; }         \
                                                                              \
   private:                                                                   \
    int32_t FErrorCode = 0;                                                   \
  }

QOR_CODED_ERROR_KIND(EIdProtocolReplyError, EIdException);
QOR_CODED_ERROR_KIND(EIdSocketError, EIdException);

QOR_ERROR_KIND(EIdSocksError, EIdException);
QOR_ERROR_KIND(EIdSocksRequestFailed, EIdSocksError);
QOR_ERROR_KIND(EIdSocksRequestServerFailed, EIdSocksError);
QOR_ERROR_KIND(EIdSocksRequestIdentFailed, EIdSocksError);
QOR_ERROR_KIND(EIdSocksUnknownError, EIdSocksError);
QOR_ERROR_KIND(EIdSocksServerRespondError, EIdSocksError);
QOR_ERROR_KIND(EIdSocksAuthMethodError, EIdSocksError);
QOR_ERROR_KIND(EIdSocksAuthError, EIdSocksError);
QOR_ERROR_KIND(EIdSocksServerGeneralError, EIdSocksError);
QOR_ERROR_KIND(EIdSocksServerPermissionError, EIdSocksError);
QOR_ERROR_KIND(EIdSocksServerNetUnreachableError, EIdSocksError);
QOR_ERROR_KIND(EIdSocksServerHostUnreachableError, EIdSocksError);
QOR_ERROR_KIND(EIdSocksServerConnectionRefusedError, EIdSocksError);
QOR_ERROR_KIND(EIdSocksServerTTLExpiredError, EIdSocksError);
QOR_ERROR_KIND(EIdSocksServerCommandError, EIdSocksError);
QOR_ERROR_KIND(EIdSocksServerAddressError, EIdSocksError);
QOR_ERROR_KIND(EIdSocksTextTooLong, EIdSocksError);  // a text longer than its one-byte length field

// A zero byte inside a SOCKS 4 text, which a zero byte ends.
QOR_ERROR_KIND(EIdSocksTextHasZeroByte, EIdSocksError);
// A SOCKS 5 reply whose address type gives no length for the rest of the reply.
QOR_ERROR_KIND(EIdSocksReplyAddressTypeError, EIdSocksError);
// An IPv6 destination asked of a SOCKS 4 proxy, whose requests carry IPv4 addresses only.
QOR_ERROR_KIND(EIdSocks4IPv6Destination, EIdSocksError);

QOR_ERROR_KIND(EIdInvalidSocket, EIdException);
QOR_ERROR_KIND(EIdSetSizeExceeded, EIdException);
// A host text that is written as an IPv6 address but cannot be used as one.
QOR_ERROR_KIND(EIdInvalidIPv6Address, EIdException);

QOR_ERROR_KIND(EIdSocketHandleError, EIdException);
QOR_ERROR_KIND(EIdCouldNotBindSocket, EIdSocketHandleError);
QOR_ERROR_KIND(EIdCanNotBindPortInRange, EIdSocketHandleError);
QOR_ERROR_KIND(EIdInvalidPortRange, EIdSocketHandleError);

QOR_ERROR_KIND(EIdTCPConnectionError, EIdException);
QOR_ERROR_KIND(EIdNotEnoughDataInBuffer, EIdTCPConnectionError);
QOR_ERROR_KIND(EIdNoDataToRead, EIdTCPConnectionError);
QOR_ERROR_KIND(EIdNotConnected, EIdTCPConnectionError);
QOR_ERROR_KIND(EIdFileNotFound, EIdTCPConnectionError);
// A stream to send that is longer than the connection's 32-bit counts can describe.
QOR_ERROR_KIND(EIdStreamTooLarge, EIdTCPConnectionError);
// A connect, read, write or wait that another thread stopped with the connection's Abort.
QOR_ERROR_KIND(EIdAborted, EIdTCPConnectionError);

// TLS: the group, and its kinds. A verification failure carries the verifier's result number in
// ErrorCode and its reason in the message.
QOR_ERROR_KIND(EIdTLSError, EIdException);
QOR_CODED_ERROR_KIND(EIdTLSVerifyError, EIdTLSError);
// Settings that cannot work (a missing CA file, a key that does not match its certificate), found
// before any connect.
QOR_ERROR_KIND(EIdTLSSetupError, EIdTLSError);
QOR_ERROR_KIND(EIdTLSHandshakeTimeout, EIdTLSError);
// The peer closed the TCP connection without ending TLS first: what came last may be cut short.
QOR_ERROR_KIND(EIdTLSTruncated, EIdTLSError);
// A TLS start refused: plaintext received before it is still unread, or the handler cannot do TLS.
QOR_ERROR_KIND(EIdTLSStartRefused, EIdTLSError);

}  // namespace qor
