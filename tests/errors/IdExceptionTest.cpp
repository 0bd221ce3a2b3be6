#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/Format.hpp"

namespace qor {
namespace {

template <class... K>
struct Kinds {};

using Family =
    Kinds<Exception, EIdException, EIdSilentException, EIdConnClosedGracefully, EIdAlreadyConnected,
          EIdClosedSocket, EIdReadTimeout, EIdReadLnMaxLineLengthExceeded, EIdInvalidServiceName,
          EIdProtocolReplyError, EIdConnectTimeout, EIdConnectException, EIdSocksError, EIdSocksRequestFailed,
          EIdSocksRequestServerFailed, EIdSocksRequestIdentFailed, EIdSocksUnknownError,
          EIdSocksServerRespondError, EIdSocksAuthMethodError, EIdSocksAuthError, EIdSocksServerGeneralError,
          EIdSocksServerPermissionError, EIdSocksServerNetUnreachableError,
          EIdSocksServerHostUnreachableError, EIdSocksServerConnectionRefusedError,
          EIdSocksServerTTLExpiredError, EIdSocksServerCommandError, EIdSocksServerAddressError,
          EIdInvalidSocket, EIdSocketError, EIdSetSizeExceeded, EIdSocketHandleError, EIdCouldNotBindSocket,
          EIdCanNotBindPortInRange, EIdInvalidPortRange, EIdTCPConnectionError, EIdNotEnoughDataInBuffer,
          EIdNoDataToRead, EIdNotConnected, EIdFileNotFound, EIdTLSError, EIdTLSVerifyError, EIdTLSSetupError,
          EIdTLSHandshakeTimeout, EIdTLSTruncated, EIdTLSStartRefused>;

// P is K's parent when K derives from P and every other kind of the family that K derives from is
// an ancestor of P: no kind stands between them.
template <class K, class P, class... All>
constexpr bool IsParent(Kinds<All...>) {
  return std::is_base_of_v<P, K> && !std::is_same_v<P, K> &&
         ((std::is_same_v<All, K> || !std::is_base_of_v<All, K> || std::is_base_of_v<All, P>)&&...);
}

// A kind with its parent, its class name and the text it is raised with, compared byte for byte.
template <class K, class P>
void ExpectKind(const char* AClassName, const std::string& AText, const std::string& AExpected) {
  static_assert(IsParent<K, P>(Family{}));
  EXPECT_EQ(AText, AExpected) << AClassName;
  const K error(AText);
  EXPECT_STREQ(error.ClassName(), AClassName);
  EXPECT_EQ(error.Message(), AExpected);
  EXPECT_STREQ(error.what(), AExpected.c_str());
}
#define EXPECT_KIND(Kind, Parent, Text, Expected) ExpectKind<Kind, Parent>(#Kind, Text, Expected)

TEST(ErrorKinds, RootAndGroupKinds) {
  static_assert(std::is_base_of_v<std::exception, Exception>);
  EXPECT_STREQ(Exception().ClassName(), "Exception");
  EXPECT_KIND(EIdException, Exception, RSOnlyOneAntiFreeze,
              "Only one TIdAntiFreeze can exist per application.");
  EXPECT_KIND(EIdSilentException, EIdException, "", "");
  EXPECT_KIND(EIdSocksError, EIdException, "", "");
  EXPECT_KIND(EIdSocketHandleError, EIdException, "", "");
  EXPECT_KIND(EIdTCPConnectionError, EIdException, "", "");
}

TEST(ErrorKinds, ConnectionKindsAndTheirTexts) {
  EXPECT_KIND(EIdConnClosedGracefully, EIdSilentException, RSConnectionClosedGracefully,
              "Connection Closed Gracefully.");
  EXPECT_KIND(EIdAlreadyConnected, EIdException, RSAlreadyConnected, "Already connected.");
  EXPECT_KIND(EIdClosedSocket, EIdException, RSClosedSocket, "Disconnected.");
  EXPECT_KIND(EIdReadTimeout, EIdException, RSReadTimeout, "Read Timeout");
  EXPECT_KIND(EIdReadLnMaxLineLengthExceeded, EIdException, RSReadLnMaxLineLengthExceeded,
              "Max line length exceeded.");
  EXPECT_KIND(EIdConnectTimeout, EIdException, RSConnectTimeout, "Connect timed out.");
  EXPECT_KIND(EIdConnectException, EIdException, "any", "any");
  EXPECT_KIND(EIdNotEnoughDataInBuffer, EIdTCPConnectionError, RSNotEnoughDataInBuffer,
              "Not enough data in buffer.");
  EXPECT_KIND(EIdNoDataToRead, EIdTCPConnectionError, RSNoDataToRead, "No data to read.");
  EXPECT_KIND(EIdNotConnected, EIdTCPConnectionError, RSNotConnected, "Not Connected");
  EXPECT_KIND(EIdFileNotFound, EIdTCPConnectionError, Format(RSFileNotFound, {std::string("a.txt")}),
              "File \"a.txt\" not found");
}

TEST(ErrorKinds, SocketKindsAndTheirTexts) {
  EXPECT_KIND(EIdInvalidServiceName, EIdException, Format(RSInvalidServiceName, {std::string("gopher")}),
              "gopher is not a valid service.");
  EXPECT_KIND(EIdInvalidSocket, EIdException, RSCannotAllocateSocket, "Cannot allocate socket.");
  EXPECT_KIND(EIdSetSizeExceeded, EIdException, RSSetSizeExceeded, "Set Size Exceeded.");
  EXPECT_KIND(EIdCouldNotBindSocket, EIdSocketHandleError, RSCouldNotBindSocket,
              "Could not bind socket. Address and port are already in use.");
  EXPECT_KIND(EIdCanNotBindPortInRange, EIdSocketHandleError, Format(RSCanNotBindRange, {1000, 1010}),
              "Can not bind in port range (1000 - 1010)");
  EXPECT_KIND(EIdInvalidPortRange, EIdSocketHandleError, Format(RSInvalidPortRange, {9, -1}),
              "Invalid Port Range (9 - -1)");
  EXPECT_KIND(EIdSocketError, EIdException, Format(RSSocketError, {111, std::string(RSStackECONNREFUSED)}),
              "Socket Error # 111\r\nConnection refused.");
  EXPECT_KIND(EIdProtocolReplyError, EIdException, "500 Syntax error", "500 Syntax error");
}

TEST(ErrorKinds, SocksKindsAndTheirTexts) {
  EXPECT_KIND(EIdSocksRequestFailed, EIdSocksError, RSSocksRequestFailed, "Request rejected or failed.");
  EXPECT_KIND(EIdSocksRequestServerFailed, EIdSocksError, RSSocksRequestServerFailed,
              "Request rejected because SOCKS server cannot connect.");
  EXPECT_KIND(EIdSocksRequestIdentFailed, EIdSocksError, RSSocksRequestIdentFailed,
              "Request rejected because the client program and identd report different user-ids.");
  EXPECT_KIND(EIdSocksUnknownError, EIdSocksError, RSSocksUnknownError, "Unknown socks error.");
  EXPECT_KIND(EIdSocksServerRespondError, EIdSocksError, RSSocksServerRespondError,
              "Socks server did not respond.");
  EXPECT_KIND(EIdSocksAuthMethodError, EIdSocksError, RSSocksAuthMethodError,
              "Invalid socks authentication method.");
  EXPECT_KIND(EIdSocksAuthError, EIdSocksError, RSSocksAuthError, "Authentication error to socks server.");
  EXPECT_KIND(EIdSocksServerGeneralError, EIdSocksError, RSSocksServerGeneralError,
              "General SOCKS server failure.");
  EXPECT_KIND(EIdSocksServerPermissionError, EIdSocksError, RSSocksServerPermissionError,
              "Connection not allowed by ruleset.");
  EXPECT_KIND(EIdSocksServerNetUnreachableError, EIdSocksError, RSSocksServerNetUnreachableError,
              "Network unreachable.");
  EXPECT_KIND(EIdSocksServerHostUnreachableError, EIdSocksError, RSSocksServerHostUnreachableError,
              "Host unreachable.");
  EXPECT_KIND(EIdSocksServerConnectionRefusedError, EIdSocksError, RSSocksServerConnectionRefusedError,
              "Connection refused.");
  EXPECT_KIND(EIdSocksServerTTLExpiredError, EIdSocksError, RSSocksServerTTLExpiredError, "TTL expired.");
  EXPECT_KIND(EIdSocksServerCommandError, EIdSocksError, RSSocksServerCommandError, "Command not supported.");
  EXPECT_KIND(EIdSocksServerAddressError, EIdSocksError, RSSocksServerAddressError, "");
}

TEST(ErrorKinds, TLSKindsAndTheirTexts) {
  EXPECT_KIND(EIdTLSError, EIdException, Format(RSTLSError, {"bad record mac"}), "TLS error: bad record mac");
  EXPECT_KIND(EIdTLSVerifyError, EIdTLSError, Format(RSTLSVerifyFailed, {"hostname mismatch"}),
              "certificate verify failed: hostname mismatch");
  EXPECT_KIND(EIdTLSSetupError, EIdTLSError, Format(RSTLSKeyMismatch, {"k.pem", "c.pem"}),
              "Key file \"k.pem\" does not match certificate file \"c.pem\".");
  EXPECT_KIND(EIdTLSHandshakeTimeout, EIdTLSError, RSTLSHandshakeTimeout, "TLS handshake timed out.");
  EXPECT_KIND(EIdTLSTruncated, EIdTLSError, RSTLSTruncated,
              "TLS stream truncated: the peer closed without close_notify.");
  EXPECT_KIND(EIdTLSStartRefused, EIdTLSError, RSTLSStartPending,
              "TLS start refused: unread plaintext bytes were received before it.");
  // The verifier's number travels with the kind.
  EXPECT_EQ(EIdTLSVerifyError::CreateWithCode(62, "mismatch").ErrorCode(), 62);
}

TEST(ErrorKinds, CodedKindsKeepTheirNumberAndClass) {
  static_assert(std::is_same_v<decltype(EIdSocketError::CreateWithCode(0, "")), EIdSocketError>);
  static_assert(
      std::is_same_v<decltype(EIdProtocolReplyError::CreateWithCode(0, "")), EIdProtocolReplyError>);
  EXPECT_EQ(EIdSocketError("no code").ErrorCode(), 0);

  const EIdSocketError socketError = EIdSocketError::CreateWithCode(111, "refused");
  EXPECT_EQ(socketError.ErrorCode(), 111);
  EXPECT_EQ(socketError.Message(), "refused");

  // Caught through its group, the error still knows its kind, its number and its text.
  try {
    Raise(EIdProtocolReplyError::CreateWithCode(550, "550 No such file"));
  } catch (const EIdException& caught) {
    EXPECT_STREQ(caught.ClassName(), "EIdProtocolReplyError");
    EXPECT_EQ(caught.Message(), "550 No such file");
    EXPECT_NE(caught.RaiseAddress(), nullptr);
    EXPECT_EQ(dynamic_cast<const EIdProtocolReplyError&>(caught).ErrorCode(), 550);
  }
}

}  // namespace
}  // namespace qor
