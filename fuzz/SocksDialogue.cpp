#include "SocksDialogue.hpp"

#include <array>
#include <functional>
#include <optional>

#include "FuzzCheck.hpp"
#include "Reference.hpp"
#include "qorclnt/socket/IdStackAddress.hpp"

namespace qor::fuzz {

namespace {

// The longest text a one-byte length (or a SOCKS 4 user id) carries.
constexpr size_t MaxText = 255;

constexpr const char* RespondError = "EIdSocksServerRespondError";
constexpr const char* TextTooLong = "EIdSocksTextTooLong";

const char* Socks4Error(uint8_t ACode) {
  switch (ACode) {
    case 91:
      return "EIdSocksRequestFailed";
    case 92:
      return "EIdSocksRequestServerFailed";
    case 93:
      return "EIdSocksRequestIdentFailed";
    default:
      return "EIdSocksUnknownError";
  }
}

const char* Socks5Error(uint8_t ACode) {
  static constexpr const char* Errors[] = {
      "EIdSocksServerGeneralError",           "EIdSocksServerPermissionError",
      "EIdSocksServerNetUnreachableError",    "EIdSocksServerHostUnreachableError",
      "EIdSocksServerConnectionRefusedError", "EIdSocksServerTTLExpiredError",
      "EIdSocksServerCommandError",           "EIdSocksServerAddressError"};
  return ACode >= 1 && ACode <= 8 ? Errors[ACode - 1] : "EIdSocksUnknownError";
}

// The sixteen bytes of a SOCKS 5 destination that is an IPv6 address; none for any other text.
std::optional<std::string> IPv6Bytes(const std::string& AHost) {
  TIdIPv6Address address;
  if (!IsIPv6Text(AHost) || !ParseIPv6(AHost, address)) return std::nullopt;
  return std::string(address.Address.begin(), address.Address.end());
}

bool IsLocalhost(const std::string& AHost) {
  return ref::UpperAscii(AHost) == "LOCALHOST";
}

// The client's side of a dialogue, step by step over the proxy's answers.
class TDialogueModel {
 public:
  TDialogueModel(const TSocksSettings& ASettings, std::string_view AReceived)
      : FSettings(ASettings), FReceived(AReceived) {}

  TDialogueOutcome Run() {
    if (FSettings.Version == svSocks5) {
      Socks5();
    } else {
      Socks4();
    }
    FOutcome.Consumed = FPos;
    return FOutcome;
  }

 private:
  void Fail(const char* AError) { FOutcome.Error = AError; }

  // Reads ACount more bytes of the answers; when the proxy ends first, the client reads all there
  // is and gives up.
  bool Take(size_t ACount) {
    if (FReceived.size() - FPos < ACount) {
      FPos = FReceived.size();
      FOutcome.ProxyEnded = true;
      Fail(RespondError);
      return false;
    }
    FPos += ACount;
    return true;
  }

  uint8_t At(size_t AOffset) const { return static_cast<uint8_t>(FReceived[AOffset]); }

  void Socks4() {
    const bool byName = FSettings.Version == svSocks4A;
    if (byName && FSettings.Host.size() > MaxText) return Fail(TextTooLong);
    // A zero byte ends a SOCKS 4 text, so none may be inside one.
    if (FSettings.Username.substr(0, MaxText).find('\0') != std::string::npos ||
        (byName && FSettings.Host.find('\0') != std::string::npos)) {
      return Fail("EIdSocksTextHasZeroByte");
    }
    if (!byName && !IsLocalhost(FSettings.Host) && !ref::IsDottedQuad(FSettings.Host)) {
      FOutcome.LookedUp = true;
      return Fail("EIdSocketError");
    }
    FOutcome.Requests = 1;
    if (!Take(8)) return;
    if (At(1) != 90) Fail(Socks4Error(At(1)));
  }

  void Socks5() {
    const bool withPassword = FSettings.Authentication == saUsernamePassword;
    if (withPassword && (FSettings.Username.size() > MaxText || FSettings.Password.size() > MaxText)) {
      return Fail(TextTooLong);
    }
    // An IPv6 address goes as its sixteen bytes; a text that looks like one and is none is refused.
    if (IsIPv6Text(FSettings.Host)) {
      if (!IPv6Bytes(FSettings.Host)) return Fail("EIdInvalidIPv6Address");
    } else if (FSettings.Host.size() > MaxText) {
      return Fail(TextTooLong);
    }
    FOutcome.Requests = 1;
    if (!Take(2)) return;
    if (At(1) != (withPassword ? 2 : 0)) return Fail("EIdSocksAuthMethodError");
    if (withPassword) {
      FOutcome.Requests = 2;
      if (!Take(2)) return;
      if (At(3) != 0) return Fail("EIdSocksAuthError");
    }
    ++FOutcome.Requests;
    const size_t head = FPos;
    if (!Take(5)) return;
    if (At(head + 1) != 0) return Fail(Socks5Error(At(head + 1)));
    // The rest of the bound address (its first byte was the fifth), then the port.
    switch (At(head + 3)) {
      case 1:
        Take(3 + 2);
        break;
      case 3:
        Take(At(head + 4) + 2u);
        break;
      case 4:
        Take(15 + 2);
        break;
      default:
        Fail("EIdSocksReplyAddressTypeError");
    }
  }

  const TSocksSettings& FSettings;
  std::string_view FReceived;
  size_t FPos = 0;
  TDialogueOutcome FOutcome;
};

// Describes the dialogue for a failure report.
using TDetail = std::function<std::string()>;

// Reads sent requests as a proxy does; any request cut short fails the check.
class TRequestReader {
 public:
  TRequestReader(std::string_view ASent, const TDetail& ADetail) : FRest(ASent), FDetail(ADetail) {}

  uint8_t Byte() { return static_cast<uint8_t>(Bytes(1)[0]); }
  uint16_t Port() {
    const uint16_t high = Byte();
    return static_cast<uint16_t>(high << 8 | Byte());
  }
  std::string Bytes(size_t ACount) {
    FUZZ_CHECK(FRest.size() >= ACount, "request cut short\n" + FDetail());
    std::string bytes(FRest.substr(0, ACount));
    FRest.remove_prefix(ACount);
    return bytes;
  }
  // A text after its length in one byte.
  std::string Counted() { return Bytes(Byte()); }
  // A text up to a 0 byte, which is read too.
  std::string Terminated() {
    const size_t end = FRest.find('\0');
    FUZZ_CHECK(end != std::string_view::npos, "text without its 0 byte\n" + FDetail());
    return Bytes(end + 1).substr(0, end);
  }
  bool AtEnd() const { return FRest.empty(); }

 private:
  std::string_view FRest;
  const TDetail& FDetail;
};

void CheckSocks4Request(const TSocksSettings& ASettings, TRequestReader& ASent, const TDetail& ADetail) {
  FUZZ_CHECK(ASent.Byte() == 4 && ASent.Byte() == 1 && ASent.Port() == ASettings.Port, ADetail());
  std::array<uint8_t, 4> address{0, 0, 0, 1};
  if (ASettings.Version == svSocks4) {
    address = IsLocalhost(ASettings.Host) ? std::array<uint8_t, 4>{127, 0, 0, 1}
                                          : ref::ParseAddress(ASettings.Host).value();
  }
  for (const uint8_t byte : address) FUZZ_CHECK(ASent.Byte() == byte, ADetail());
  const std::string user = ASent.Terminated();
  FUZZ_CHECK(user.size() <= MaxText && user == ASettings.Username.substr(0, MaxText), ADetail());
  if (ASettings.Version == svSocks4A) {
    const std::string host = ASent.Terminated();
    FUZZ_CHECK(host.size() <= MaxText && host == ASettings.Host, ADetail());
  }
}

void CheckSocks5Requests(const TSocksSettings& ASettings, TRequestReader& ASent, size_t ARequests,
                         const TDetail& ADetail) {
  const bool withPassword = ASettings.Authentication == saUsernamePassword;
  FUZZ_CHECK(ASent.Byte() == 5 && ASent.Byte() == 1 && ASent.Byte() == (withPassword ? 2 : 0), ADetail());
  size_t sent = 1;
  if (withPassword && ARequests > sent) {
    ++sent;
    FUZZ_CHECK(ASent.Byte() == 1, ADetail());
    FUZZ_CHECK(ASent.Counted() == ASettings.Username, ADetail());
    FUZZ_CHECK(ASent.Counted() == ASettings.Password, ADetail());
  }
  if (ARequests > sent) {
    FUZZ_CHECK(ASent.Byte() == 5 && ASent.Byte() == 1 && ASent.Byte() == 0, ADetail());
    const std::optional<std::string> ipv6 = IPv6Bytes(ASettings.Host);
    if (ipv6) {
      FUZZ_CHECK(ASent.Byte() == 4 && ASent.Bytes(16) == *ipv6, ADetail());
    } else {
      FUZZ_CHECK(ASent.Byte() == 3 && ASent.Counted() == ASettings.Host, ADetail());
    }
    FUZZ_CHECK(ASent.Port() == ASettings.Port, ADetail());
  }
}

}  // namespace

std::string Describe(const TSocksSettings& ASettings) {
  static constexpr const char* Versions[] = {"none", "SOCKS 4", "SOCKS 4A", "SOCKS 5"};
  return std::string(Versions[ASettings.Version]) +
         (ASettings.Authentication == saUsernamePassword ? " with password" : "") + ", user " +
         Escaped(ASettings.Username) + ", password " + Escaped(ASettings.Password) + ", destination " +
         Escaped(ASettings.Host) + " port " + std::to_string(ASettings.Port);
}

TDialogueOutcome ExpectedDialogue(const TSocksSettings& ASettings, std::string_view AReceived) {
  return TDialogueModel(ASettings, AReceived).Run();
}

void CheckRequests(const TSocksSettings& ASettings, std::string_view ASent, size_t ARequests) {
  const TDetail detail = [&] { return Describe(ASettings) + "\nsent " + Escaped(std::string(ASent)); };
  TRequestReader sent(ASent, detail);
  if (ARequests > 0) {
    if (ASettings.Version == svSocks5) {
      CheckSocks5Requests(ASettings, sent, ARequests, detail);
    } else {
      CheckSocks4Request(ASettings, sent, detail);
    }
  }
  FUZZ_CHECK(sent.AtEnd(), "bytes after the requests\n" + detail());
}

}  // namespace qor::fuzz
