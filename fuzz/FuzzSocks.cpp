// SOCKS 4, 4A and 5 negotiation: the version, the authentication, the user name, password and
// destination (texts of 0 to 300 bytes), the port and the size of each send chosen by the input, and
// the rest of the input as the proxy, through a transport whose receives the input chooses. The
// outcome must be the one a reference dialogue gives; the requests sent must parse back to the
// settings with every text within 255 bytes; no byte after the proxy's replies may be taken; and no
// name may be looked up but a SOCKS 4 destination that is neither dotted nor localhost.

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>

#include "FuzzCheck.hpp"
#include "FuzzIOHandler.hpp"
#include "FuzzInput.hpp"
#include "Reference.hpp"
#include "SocksDialogue.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdSocks.hpp"
#include "qorclnt/socket/IdStackLinux.hpp"

namespace qor::fuzz {
namespace {

// Set when the stack was asked to look a name up.
bool LookupMade = false;

// The socket stack with its name lookups replaced: they are recorded and fail as an unknown name
// does ("Host not found."), without any query leaving the process.
class TNoLookupStack : public TIdStackLinux {
 public:
  std::string LookupHostAddress(const std::string& /*AHost*/) override { Fail(); }
  std::string LookupHostName(const std::string& /*AIP*/) override { Fail(); }

 private:
  [[noreturn]] void Fail() {
    LookupMade = true;
    RaiseErrorCode(1);
  }
};

// A SOCKS 4 destination: "localhost" in some letter case, or dotted fields written the ways the
// number rule reads them, some out of range and some with a field too many or too few.
std::string Socks4Destination(TFuzzInput& AInput) {
  if (AInput.Below(4) == 0) {
    std::string host = "localhost";
    const uint16_t upper = AInput.Word();
    for (size_t i = 0; i < host.size(); ++i) {
      if ((upper >> i & 1) != 0) host[i] = static_cast<char>(host[i] - 'a' + 'A');
    }
    return host;
  }
  static constexpr const char* Prefixes[] = {"", "", "", " ", "+", "-", "00", "$", "0x", "X"};
  const size_t fields = AInput.Below(8) == 0 ? AInput.Below(6) + 1 : 4;
  std::string host;
  for (size_t i = 0; i < fields; ++i) {
    if (i > 0) host += '.';
    const size_t prefix = AInput.Below(std::size(Prefixes));
    const unsigned value = AInput.Below(4) == 0 ? AInput.Word() % 300u : AInput.Byte();
    char digits[16];
    std::snprintf(digits, sizeof digits, prefix >= 7 ? "%x" : "%u", value);
    host += Prefixes[prefix];
    host += digits;
  }
  return host;
}

TSocksSettings ChooseSettings(TFuzzInput& AInput) {
  TSocksSettings settings;
  constexpr TSocksVersion Versions[] = {svSocks4, svSocks4A, svSocks5};
  settings.Version = Versions[AInput.Below(3)];
  settings.Authentication = AInput.Bool() ? saUsernamePassword : saNoAuthentication;
  settings.Username = AInput.Text(AInput.Below(301));
  settings.Password = AInput.Text(AInput.Below(301));
  settings.Host = settings.Version == svSocks4 ? Socks4Destination(AInput) : AInput.Text(AInput.Below(301));
  // SOCKS 5 sends an IPv6 address as its bytes: now and then the destination is one.
  constexpr const char* IPv6Hosts[] = {"::1", "[::1]", "2001:db8::7", "::ffff:127.0.0.1", "fe80::1%lo"};
  if (settings.Version == svSocks5 && AInput.Below(4) == 0) settings.Host = IPv6Hosts[AInput.Below(5)];
  settings.Port = AInput.Word();
  return settings;
}

void Negotiate(TFuzzInput& AInput) {
  const TSocksSettings settings = ChooseSettings(AInput);
  const int32_t sendLimit = AInput.Below(4) == 0 ? static_cast<int32_t>(AInput.Below(16)) + 1 : 0;
  TFuzzIOHandler handler(AInput, sendLimit);
  TIdSocksInfo& socks = *handler.SocksInfo();
  socks.SetVersion(settings.Version);
  socks.SetAuthentication(settings.Authentication);
  socks.SetUsername(settings.Username);
  socks.SetPassword(settings.Password);

  LookupMade = false;
  std::string error;
  try {
    socks.NegotiateProxy(settings.Host, settings.Port);
  } catch (const EIdSocksError& e) {
    error = e.ClassName();
  } catch (const EIdSocketError& e) {
    error = e.ClassName();
  } catch (const EIdInvalidIPv6Address& e) {
    error = e.ClassName();
  }
  const TDialogueOutcome expected = ExpectedDialogue(settings, handler.Received());
  const auto detail = [&] {
    return Describe(settings) + "\nerror " + error + ", expected " + expected.Error + "\nproxy " +
           Escaped(handler.Received()) + "\nsent " + Escaped(handler.Sent());
  };
  FUZZ_CHECK(error == expected.Error, detail());
  FUZZ_CHECK(LookupMade == expected.LookedUp, detail());
  FUZZ_CHECK(handler.Received().size() == expected.Consumed, detail());
  FUZZ_CHECK(!expected.ProxyEnded || handler.Ended(), detail());
  CheckRequests(settings, handler.Sent(), expected.Requests);
}

}  // namespace
}  // namespace qor::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  qor::StackClass = []() -> std::unique_ptr<qor::TIdStack> {
    return std::make_unique<qor::fuzz::TNoLookupStack>();
  };
  qor::fuzz::TFuzzInput input(AData, ASize);
  qor::fuzz::Negotiate(input);
  return 0;
}
