#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "errors/IdException.hpp"
#include "errors/IdResourceStrings.hpp"
#include "runtime/Format.hpp"

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
          EIdNoDataToRead, EIdNotConnected, EIdFileNotFound>;

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

TEST(ErrorKinds, RootAndGroupKinds) {
  static_assert(std::is_base_of_v<std::exception, Exception>);
  EXPECT_STREQ(Exception().ClassName(), "Exception");
  ExpectKind<EIdException, Exception>("EIdException", RSOnlyOneAntiFreeze,
                                      "Only one TIdAntiFreeze can exist per application.");
  ExpectKind<EIdSilentException, EIdException>("EIdSilentException", "", "");
  ExpectKind<EIdSocksError, EIdException>("EIdSocksError", "", "");
  ExpectKind<EIdSocketHandleError, EIdException>("EIdSocketHandleError", "", "");
  ExpectKind<EIdTCPConnectionError, EIdException>("EIdTCPConnectionError", "", "");
}

TEST(ErrorKinds, ConnectionKindsAndTheirTexts) {
  ExpectKind<EIdConnClosedGracefully, EIdSilentException>(
      "EIdConnClosedGracefully", RSConnectionClosedGracefully, "Connection Closed Gracefully.");
  ExpectKind<EIdAlreadyConnected, EIdException>("EIdAlreadyConnected", RSAlreadyConnected,
                                                "Already connected.");
  ExpectKind<EIdClosedSocket, EIdException>("EIdClosedSocket", RSClosedSocket, "Disconnected.");
  ExpectKind<EIdReadTimeout, EIdException>("EIdReadTimeout", RSReadTimeout, "Read Timeout");
  ExpectKind<EIdReadLnMaxLineLengthExceeded, EIdException>(
      "EIdReadLnMaxLineLengthExceeded", RSReadLnMaxLineLengthExceeded, "Max line length exceeded.");
  ExpectKind<EIdConnectTimeout, EIdException>("EIdConnectTimeout", RSConnectTimeout, "Connect timed out.");
  ExpectKind<EIdConnectException, EIdException>("EIdConnectException", "any", "any");
  ExpectKind<EIdNotEnoughDataInBuffer, EIdTCPConnectionError>(
      "EIdNotEnoughDataInBuffer", RSNotEnoughDataInBuffer, "Not enough data in buffer.");
  ExpectKind<EIdNoDataToRead, EIdTCPConnectionError>("EIdNoDataToRead", RSNoDataToRead, "No data to read.");
  ExpectKind<EIdNotConnected, EIdTCPConnectionError>("EIdNotConnected", RSNotConnected, "Not Connected");
  ExpectKind<EIdFileNotFound, EIdTCPConnectionError>(
      "EIdFileNotFound", Format(RSFileNotFound, {std::string("a.txt")}), "File \"a.txt\" not found");
}

TEST(ErrorKinds, SocketKindsAndTheirTexts) {
  ExpectKind<EIdInvalidServiceName, EIdException>("EIdInvalidServiceName",
                                                  Format(RSInvalidServiceName, {std::string("gopher")}),
                                                  "gopher is not a valid service.");
  ExpectKind<EIdInvalidSocket, EIdException>("EIdInvalidSocket", RSCannotAllocateSocket,
                                             "Cannot allocate socket.");
  ExpectKind<EIdSetSizeExceeded, EIdException>("EIdSetSizeExceeded", RSSetSizeExceeded, "Set Size Exceeded.");
  ExpectKind<EIdCouldNotBindSocket, EIdSocketHandleError>(
      "EIdCouldNotBindSocket", RSCouldNotBindSocket,
      "Could not bind socket. Address and port are already in use.");
  ExpectKind<EIdCanNotBindPortInRange, EIdSocketHandleError>("EIdCanNotBindPortInRange",
                                                             Format(RSCanNotBindRange, {1000, 1010}),
                                                             "Can not bind in port range (1000 - 1010)");
  ExpectKind<EIdInvalidPortRange, EIdSocketHandleError>(
      "EIdInvalidPortRange", Format(RSInvalidPortRange, {9, -1}), "Invalid Port Range (9 - -1)");
  ExpectKind<EIdSocketError, EIdException>("EIdSocketError",
                                           Format(RSSocketError, {111, std::string(RSStackECONNREFUSED)}),
                                           "Socket Error # 111\r\nConnection refused.");
  ExpectKind<EIdProtocolReplyError, EIdException>("EIdProtocolReplyError", "500 Syntax error",
                                                  "500 Syntax error");
}

TEST(ErrorKinds, SocksKindsAndTheirTexts) {
  ExpectKind<EIdSocksRequestFailed, EIdSocksError>("EIdSocksRequestFailed", RSSocksRequestFailed,
                                                   "Request rejected or failed.");
  ExpectKind<EIdSocksRequestServerFailed, EIdSocksError>(
      "EIdSocksRequestServerFailed", RSSocksRequestServerFailed,
      "Request rejected because SOCKS server cannot connect.");
  ExpectKind<EIdSocksRequestIdentFailed, EIdSocksError>(
      "EIdSocksRequestIdentFailed", RSSocksRequestIdentFailed,
      "Request rejected because the client program and identd report different user-ids.");
  ExpectKind<EIdSocksUnknownError, EIdSocksError>("EIdSocksUnknownError", RSSocksUnknownError,
                                                  "Unknown socks error.");
  ExpectKind<EIdSocksServerRespondError, EIdSocksError>(
      "EIdSocksServerRespondError", RSSocksServerRespondError, "Socks server did not respond.");
  ExpectKind<EIdSocksAuthMethodError, EIdSocksError>("EIdSocksAuthMethodError", RSSocksAuthMethodError,
                                                     "Invalid socks authentication method.");
  ExpectKind<EIdSocksAuthError, EIdSocksError>("EIdSocksAuthError", RSSocksAuthError,
                                               "Authentication error to socks server.");
  ExpectKind<EIdSocksServerGeneralError, EIdSocksError>(
      "EIdSocksServerGeneralError", RSSocksServerGeneralError, "General SOCKS server failure.");
  ExpectKind<EIdSocksServerPermissionError, EIdSocksError>(
      "EIdSocksServerPermissionError", RSSocksServerPermissionError, "Connection not allowed by ruleset.");
  ExpectKind<EIdSocksServerNetUnreachableError, EIdSocksError>(
      "EIdSocksServerNetUnreachableError", RSSocksServerNetUnreachableError, "Network unreachable.");
  ExpectKind<EIdSocksServerHostUnreachableError, EIdSocksError>(
      "EIdSocksServerHostUnreachableError", RSSocksServerHostUnreachableError, "Host unreachable.");
  ExpectKind<EIdSocksServerConnectionRefusedError, EIdSocksError>(
      "EIdSocksServerConnectionRefusedError", RSSocksServerConnectionRefusedError, "Connection refused.");
  ExpectKind<EIdSocksServerTTLExpiredError, EIdSocksError>("EIdSocksServerTTLExpiredError",
                                                           RSSocksServerTTLExpiredError, "TTL expired.");
  ExpectKind<EIdSocksServerCommandError, EIdSocksError>("EIdSocksServerCommandError",
                                                        RSSocksServerCommandError, "Command not supported.");
  ExpectKind<EIdSocksServerAddressError, EIdSocksError>("EIdSocksServerAddressError",
                                                        RSSocksServerAddressError, "");
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
