// The client side of the SOCKS 4, 4A and 5 dialogues, run over the I/O handler's plain connected
// socket right after its TCP connect to the proxy, before any transport that wraps the bytes.

#include <array>
#include <cerrno>
#include <span>
#include <string>

#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/Format.hpp"
#include "qorclnt/runtime/SendWhole.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "qorclnt/socket/IdSocks.hpp"
#include "qorclnt/socket/IdStack.hpp"
#include "qorclnt/socket/IdStackAddress.hpp"

namespace qor {

namespace {

// The longest text a one-byte length field (or a SOCKS 4 user id) can carry.
constexpr size_t IdSocksMaxText = 255;

struct TSocksFailure {
  ExceptClass Kind;
  const char* Message;
};

constexpr TSocksFailure SocksUnknown{ExceptClass::Of<EIdSocksUnknownError>(), RSSocksUnknownError};

// SOCKS 4 result codes 91 to 93 (90 is success).
constexpr std::array<TSocksFailure, 3> Socks4Failures{{
    {ExceptClass::Of<EIdSocksRequestFailed>(), RSSocksRequestFailed},
    {ExceptClass::Of<EIdSocksRequestServerFailed>(), RSSocksRequestServerFailed},
    {ExceptClass::Of<EIdSocksRequestIdentFailed>(), RSSocksRequestIdentFailed},
}};

// SOCKS 5 result codes 1 to 8 (0 is success).
constexpr std::array<TSocksFailure, 8> Socks5Failures{{
    {ExceptClass::Of<EIdSocksServerGeneralError>(), RSSocksServerGeneralError},
    {ExceptClass::Of<EIdSocksServerPermissionError>(), RSSocksServerPermissionError},
    {ExceptClass::Of<EIdSocksServerNetUnreachableError>(), RSSocksServerNetUnreachableError},
    {ExceptClass::Of<EIdSocksServerHostUnreachableError>(), RSSocksServerHostUnreachableError},
    {ExceptClass::Of<EIdSocksServerConnectionRefusedError>(), RSSocksServerConnectionRefusedError},
    {ExceptClass::Of<EIdSocksServerTTLExpiredError>(), RSSocksServerTTLExpiredError},
    {ExceptClass::Of<EIdSocksServerCommandError>(), RSSocksServerCommandError},
    {ExceptClass::Of<EIdSocksServerAddressError>(), RSSocksServerAddressError},
}};

// Raises the failure for result code ACode, where AFailures holds the codes from AFirst on.
[[noreturn]] void RaiseSocksFailure(uint8_t ACode, uint8_t AFirst, std::span<const TSocksFailure> AFailures) {
  const size_t index = static_cast<size_t>(ACode - AFirst);
  const TSocksFailure& failure =
      ACode >= AFirst && index < AFailures.size() ? AFailures[index] : SocksUnknown;
  failure.Kind.Raise(failure.Message);
}

[[noreturn]] void RaiseNoResponse() {
  Raise(EIdSocksServerRespondError(RSSocksServerRespondError));
}

// Refuses, before anything is sent, a text that its length byte cannot describe.
void CheckTextLength(const std::string& AText) {
  if (AText.size() > IdSocksMaxText) Raise(EIdSocksTextTooLong(RSSocksTextTooLong));
}

// Refuses, before anything is sent, a SOCKS 4 text with a zero byte in it: the zero byte would end
// the text early and the proxy would read the rest as the next field (a user id could name the
// destination).
void CheckNoZeroByte(const std::string& AText) {
  if (AText.find('\0') != std::string::npos) Raise(EIdSocksTextHasZeroByte(RSSocksTextHasZeroByte));
}

// A text preceded by its length in one byte (checked before).
std::string WithLength(const std::string& AText) {
  return static_cast<char>(AText.size()) + AText;
}

// A port outside 0..65535 would be cut to 16 bits and name another port: refused as a direct
// connect refuses it, before anything is sent.
void CheckPort(int32_t APort) {
  if (APort < 0 || APort > 65535) CurrentStack->RaiseErrorCode(EINVAL);
}

// A port in network order, as the requests carry it (checked before).
std::string PortBytes(int32_t APort) {
  const uint16_t port = CurrentStack->HostToNetShort(static_cast<uint16_t>(APort));
  return std::string(reinterpret_cast<const char*>(&port), sizeof port);
}

// The handler's plain socket as the dialogues use it: whole requests out, whole replies in, every
// receive within what is left of the dialogue's time.
class TProxyLink {
 public:
  TProxyLink(TIdIOHandlerSocket* AHandler, int32_t ATimeout)
      : FHandler(AHandler), FDeadline(TIdWait::Of(ATimeout)) {
    if (AHandler == nullptr) Raise(EIdClosedSocket(RSClosedSocket));
  }

  // Sends every byte of ARequest; a failed send raises the socket's error.
  void Send(const std::string& ARequest) {
    SendWhole(ARequest.size(), [this, &ARequest](size_t ADone, size_t ALeft) {
      const TIdIOResult result = FHandler->SocketSend(ARequest.data() + ADone, static_cast<int32_t>(ALeft));
      if (result.Failed()) CurrentStack->CheckSocketError(result.Error);  // raises
      if (result.Count == 0) RaiseNoResponse();
      return static_cast<size_t>(result.Count);
    });
  }

  // Receives exactly ACount bytes, and not one more: what follows belongs to the destination. A proxy
  // that closes or a receive that fails before the count is complete is a proxy that did not respond;
  // one that is still silent when the time is up, a receive that timed out.
  void Receive(void* ABuffer, size_t ACount) {
    for (size_t got = 0; got < ACount;) {
      const TIdIOResult result = FHandler->SocketReceive(
          static_cast<char*>(ABuffer) + got, static_cast<int32_t>(ACount - got), FDeadline.Left().Ms());
      if (result.TimedOut) Raise(EIdReadTimeout(RSReadTimeout));
      if (result.Count <= 0) RaiseNoResponse();
      got += static_cast<size_t>(result.Count);
    }
  }

  // Receive for SOCKS 5, where any error raised while receiving reads as a proxy that did not respond.
  void ReceiveGuarded(void* ABuffer, size_t ACount) {
    try {
      Receive(ABuffer, ACount);
    } catch (const EIdSocksServerRespondError&) {
      throw;
    } catch (const Exception&) {
      RaiseNoResponse();
    }
  }

 private:
  TIdIOHandlerSocket* FHandler;
  TIdDeadline FDeadline;
};

// The bytes of a SOCKS 5 connect reply after its first five, by address type: the rest of an IPv4
// address, of a name whose length was the fifth byte, or of an IPv6 address; then the port. Any
// other type leaves the reply's length unknown, so nothing more is read and the connect fails.
size_t Socks5ReplyRest(uint8_t AAddressType, uint8_t AFifthByte) {
  switch (AAddressType) {
    case 1:
      return 3 + 2;
    case 3:
      return AFifthByte + 2u;
    case 4:
      return 15 + 2;
    default:
      Raise(EIdSocksReplyAddressTypeError(RSSocksReplyAddressTypeError));
  }
}

// The address part of a SOCKS 5 connect request: an IPv6 address as type 4 and its sixteen bytes
// (a zone means nothing to the proxy and is left out); anything else as a name, type 3, a dotted
// address included. Checked before anything is sent.
std::string Socks5Destination(const std::string& AHost) {
  if (IsIPv6Text(AHost)) {
    TIdIPv6Address address;
    if (!ParseIPv6(AHost, address)) Raise(EIdInvalidIPv6Address(Format(RSInvalidIPv6Address, {AHost})));
    return '\4' + std::string(address.Address.begin(), address.Address.end());
  }
  CheckTextLength(AHost);
  return '\3' + WithLength(AHost);
}

}  // namespace

void TIdSocksInfo::NegotiateSocks4(const std::string& AHost, int32_t APort, int32_t ATimeout) {
  const bool byName = FVersion == svSocks4A;
  const std::string userId = FUsername.substr(0, IdSocksMaxText);
  // A SOCKS 4 request has room for an IPv4 address only (SOCKS 4A passes the text on as a name).
  if (!byName && IsIPv6Text(AHost)) Raise(EIdSocks4IPv6Destination(RSSocks4IPv6Destination));
  CheckPort(APort);
  if (byName) CheckTextLength(AHost);
  CheckNoZeroByte(userId);
  if (byName) CheckNoZeroByte(AHost);
  TProxyLink link(FHandler, ATimeout);
  // Version 4, CONNECT, the port, the address (0.0.0.1 asks the proxy to resolve the name that
  // follows the user id), the user id and a 0 byte.
  std::string request{4, 1};
  request += PortBytes(APort);
  const uint32_t address =
      CurrentStack->ParseAddressValue(byName ? "0.0.0.1" : CurrentStack->HostToAddress(AHost));
  request.append(reinterpret_cast<const char*>(&address), sizeof address);
  request += userId;
  request += '\0';
  if (byName) {
    request += AHost;
    request += '\0';
  }
  link.Send(request);

  std::array<uint8_t, 8> reply{};
  link.Receive(reply.data(), reply.size());
  if (reply[1] != 90) RaiseSocksFailure(reply[1], 91, Socks4Failures);
}

void TIdSocksInfo::NegotiateSocks5(const std::string& AHost, int32_t APort, int32_t ATimeout) {
  const bool withPassword = FAuthentication == saUsernamePassword;
  if (withPassword) {
    CheckTextLength(FUsername);
    CheckTextLength(FPassword);
  }
  const std::string destination = Socks5Destination(AHost);
  CheckPort(APort);
  TProxyLink link(FHandler, ATimeout);

  // Method selection: one method offered, and the proxy must pick it.
  const char method = withPassword ? 2 : 0;
  link.Send({5, 1, method});
  std::array<uint8_t, 2> answer{};
  link.ReceiveGuarded(answer.data(), answer.size());
  if (answer[1] != method) Raise(EIdSocksAuthMethodError(RSSocksAuthMethodError));

  if (withPassword) {
    link.Send('\1' + WithLength(FUsername) + WithLength(FPassword));
    link.ReceiveGuarded(answer.data(), answer.size());
    if (answer[1] != 0) Raise(EIdSocksAuthError(RSSocksAuthError));
  }

  link.Send(std::string{5, 1, 0} + destination + PortBytes(APort));
  std::array<uint8_t, 5> head{};
  link.ReceiveGuarded(head.data(), head.size());
  if (head[1] != 0) RaiseSocksFailure(head[1], 1, Socks5Failures);
  // The bound address and port are of no use here, but must not be left in front of the data.
  std::array<uint8_t, IdSocksMaxText + 2> rest{};
  link.ReceiveGuarded(rest.data(), Socks5ReplyRest(head[3], head[4]));
}

}  // namespace qor
