#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qor {

// An IPv6 address: the sixteen bytes in network order.
using TIdIn6Addr = std::array<uint8_t, 16>;

// An IPv6 address with its zone: the index of the interface it belongs to, 0 for none.
struct TIdIPv6Address {
  TIdIn6Addr Address{};
  uint32_t Zone = 0;
};

// True when AText is written as an IPv6 address would be: it holds a ":", which no dotted IPv4
// address and no host name does.
bool IsIPv6Text(std::string_view AText) noexcept;
// The family of an address text: Id_PF_INET6 for an IPv6 text, else Id_PF_INET.
uint16_t FamilyOfText(std::string_view AText) noexcept;
// Reads an IPv6 address, with or without brackets around it, and an optional zone after "%": an
// interface name (its case does not matter, so an upper-cased text still names it) or an interface
// number. False when the text is no IPv6 address or its zone names no interface.
bool ParseIPv6(std::string_view AText, TIdIPv6Address& VAddress);
// The address in its shortest standard form (RFC 5952), followed by "%" and the interface's name
// (or its number when the system knows no name for it) when it has a zone.
std::string FormatIPv6(const TIdIPv6Address& AAddress);
// True for an address of fe80::/10, which means nothing without a zone.
bool IsLinkLocal(const TIdIn6Addr& AAddress) noexcept;
// The canonical text of an IPv6 literal (as FormatIPv6 gives it). Raises EIdInvalidIPv6Address for
// a text that is no IPv6 address, names an unknown zone, or is link-local without a zone.
std::string CanonicalIPv6(const std::string& AText);

}  // namespace qor
