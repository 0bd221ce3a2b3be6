#include "qorclnt/socket/IdStackAddress.hpp"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <strings.h>

#include <cstring>
#include <memory>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/Format.hpp"
#include "qorclnt/socket/IdStack.hpp"

namespace qor {

namespace {

// The index of the interface named AName, compared without regard to case when no interface has
// exactly that name; 0 when there is none.
uint32_t InterfaceIndex(const std::string& AName) {
  if (const uint32_t index = ::if_nametoindex(AName.c_str()); index != 0) return index;
  using TNameIndex = struct if_nameindex;
  const std::unique_ptr<TNameIndex[], void (*)(TNameIndex*)> list(::if_nameindex(), ::if_freenameindex);
  if (!list) return 0;
  for (const TNameIndex* item = list.get(); item->if_index != 0; ++item) {
    if (::strcasecmp(item->if_name, AName.c_str()) == 0) return item->if_index;
  }
  return 0;
}

// The interface of a zone text: a name, or a decimal number.
uint32_t ZoneIndex(const std::string& AZone) {
  if (AZone.empty()) return 0;
  if (AZone.find_first_not_of("0123456789") == std::string::npos && AZone.size() <= 9) {
    return static_cast<uint32_t>(std::stoul(AZone));
  }
  return InterfaceIndex(AZone);
}

}  // namespace

bool IsIPv6Text(std::string_view AText) noexcept {
  return AText.find(':') != std::string_view::npos;
}

uint16_t FamilyOfText(std::string_view AText) noexcept {
  return IsIPv6Text(AText) ? Id_PF_INET6 : Id_PF_INET;
}

bool ParseIPv6(std::string_view AText, TIdIPv6Address& VAddress) {
  if (AText.size() >= 2 && AText.front() == '[' && AText.back() == ']') {
    AText = AText.substr(1, AText.size() - 2);
  }
  const size_t percent = AText.find('%');
  const std::string address(AText.substr(0, percent));
  in6_addr parsed{};
  if (::inet_pton(AF_INET6, address.c_str(), &parsed) != 1) return false;
  uint32_t zone = 0;
  if (percent != std::string_view::npos) {
    zone = ZoneIndex(std::string(AText.substr(percent + 1)));
    if (zone == 0) return false;
  }
  std::memcpy(VAddress.Address.data(), &parsed, VAddress.Address.size());
  VAddress.Zone = zone;
  return true;
}

std::string FormatIPv6(const TIdIPv6Address& AAddress) {
  char text[INET6_ADDRSTRLEN]{};
  ::inet_ntop(AF_INET6, AAddress.Address.data(), text, sizeof text);
  std::string result = text;
  if (AAddress.Zone != 0) {
    char name[IF_NAMESIZE]{};
    result += '%';
    result +=
        ::if_indextoname(AAddress.Zone, name) != nullptr ? std::string(name) : std::to_string(AAddress.Zone);
  }
  return result;
}

bool IsLinkLocal(const TIdIn6Addr& AAddress) noexcept {
  return AAddress[0] == 0xfe && (AAddress[1] & 0xc0) == 0x80;
}

std::string CanonicalIPv6(const std::string& AText) {
  TIdIPv6Address address;
  if (!ParseIPv6(AText, address)) Raise(EIdInvalidIPv6Address(Format(RSInvalidIPv6Address, {AText})));
  if (address.Zone == 0 && IsLinkLocal(address.Address)) {
    Raise(EIdInvalidIPv6Address(Format(RSIPv6ZoneMissing, {AText})));
  }
  return FormatIPv6(address);
}

}  // namespace qor
