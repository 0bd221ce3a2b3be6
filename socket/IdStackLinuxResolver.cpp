// The resolver operations of the Linux stack: host names, addresses and services.
#include "qorclnt/socket/IdStackLinux.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/Format.hpp"
#include "qorclnt/runtime/RuntimeErrors.hpp"
#include "qorclnt/runtime/RuntimeStrings.hpp"
#include "qorclnt/runtime/Strings.hpp"

namespace qor {

namespace {

// Runs a reentrant lookup, ACall(buffer, size) returning an error number, with a buffer that grows
// while the call finds it too small. The entry the call fills points into the buffer. Returns the
// call's last result.
template <class TCall>
int CallWithBuffer(std::vector<char>& VBuffer, TCall ACall) {
  VBuffer.resize(1024);
  int result;
  while ((result = ACall(VBuffer.data(), VBuffer.size())) == ERANGE) VBuffer.resize(VBuffer.size() * 2);
  return result;
}

// One host entry from the reentrant resolver calls; Error is the resolver's number (h_errno) and
// Result the call's own error number when nothing was found.
struct THostLookup {
  hostent Entry{};
  hostent* Found = nullptr;
  int Error = 0;
  int Result = 0;
  std::vector<char> Buffer;

  void ByName(const std::string& AName) {
    Result = CallWithBuffer(Buffer, [this, &AName](char* ABuffer, size_t ASize) {
      return ::gethostbyname_r(AName.c_str(), &Entry, ABuffer, ASize, &Found, &Error);
    });
  }

  void ByAddress(const in_addr_t& AAddress) {
    Result = CallWithBuffer(Buffer, [this, &AAddress](char* ABuffer, size_t ASize) {
      return ::gethostbyaddr_r(&AAddress, sizeof AAddress, AF_INET, &Entry, ABuffer, ASize, &Found, &Error);
    });
  }

  // Why nothing was found, taken from the lookup itself and never 0 (errno may be stale): the
  // resolver's number; else the system error the call returned (the resolver says NETDB_INTERNAL
  // then); else, when neither says anything, host not found.
  [[noreturn]] void RaiseFailure(TIdStackLinux& AStack) const {
    if (Error > 0) AStack.RaiseResolverError(Error);
    if (Result > 0) AStack.RaiseErrorCode(Result);
    AStack.RaiseResolverError(HOST_NOT_FOUND);
  }

  // The entry's IPv4 addresses in list order.
  std::vector<TIdIn4Addr> Addresses() const {
    std::vector<TIdIn4Addr> result;
    if (Found->h_addrtype != AF_INET || Found->h_length != sizeof(TIdIn4Addr)) return result;
    for (char** item = Found->h_addr_list; *item != nullptr; ++item) {
      TIdIn4Addr& address = result.emplace_back();
      std::memcpy(address.data(), *item, address.size());
    }
    return result;
  }
};

}  // namespace

void TIdStackLinux::FillLocalAddressList() {
  if (!FLocalAddressList) FLocalAddressList = std::make_unique<std::vector<std::string>>();
  FLocalAddressList->clear();
  THostLookup lookup;
  lookup.ByName(GetLocalHostName());
  if (lookup.Found == nullptr) lookup.RaiseFailure(*this);
  for (const TIdIn4Addr& address : lookup.Addresses()) FLocalAddressList->push_back(FormatAddress(address));
}

std::string TIdStackLinux::GetFirstLocalAddress() {
  const std::vector<std::string>& list = GetLocalAddressList();
  if (list.empty()) Raise(EListError(Format(RSListIndexError, {0})));
  return list.front();
}

const std::vector<std::string>& TIdStackLinux::GetLocalAddressList() {
  FillLocalAddressList();
  return *FLocalAddressList;
}

std::string TIdStackLinux::LookupHostAddress(const std::string& AHost) {
  THostLookup lookup;
  lookup.ByName(AHost);
  if (lookup.Found == nullptr) lookup.RaiseFailure(*this);
  const std::vector<TIdIn4Addr> addresses = lookup.Addresses();
  if (addresses.empty()) RaiseResolverError(NO_DATA);  // a name without an IPv4 address
  return FormatAddress(addresses.front());
}

std::string TIdStackLinux::GetLocalHostName() {
  char name[251]{};  // 250 bytes for the name, one NUL always after it
  ::gethostname(name, sizeof name - 1);
  return name;
}

std::string TIdStackLinux::LookupHostName(const std::string& AIP) {
  THostLookup lookup;
  lookup.ByAddress(::inet_addr(AIP.c_str()));
  if (lookup.Found == nullptr) lookup.RaiseFailure(*this);
  return lookup.Found->h_name;
}

int32_t TIdStackLinux::ServiceToPort(const std::string& AService) {
  servent entry{};
  servent* found = nullptr;
  std::vector<char> buffer;
  CallWithBuffer(buffer, [&](char* ABuffer, size_t ASize) {
    return ::getservbyname_r(AService.c_str(), nullptr, &entry, ABuffer, ASize, &found);
  });
  if (found != nullptr) return ntohs(static_cast<uint16_t>(found->s_port));
  int32_t port = 0;
  if (!TryStrToInt(AService, port)) Raise(EIdInvalidServiceName(Format(RSInvalidServiceName, {AService})));
  return port;
}

std::vector<std::string> TIdStackLinux::PortToServiceNames(int32_t APort) {
  // A port that does not fit in 16 bits names no service (cut to 16 bits it would name another).
  if (APort < 0 || APort > 65535) return {};
  servent entry{};
  servent* found = nullptr;
  std::vector<char> buffer;
  CallWithBuffer(buffer, [&](char* ABuffer, size_t ASize) {
    return ::getservbyport_r(htons(static_cast<uint16_t>(APort)), nullptr, &entry, ABuffer, ASize, &found);
  });
  if (found == nullptr) return {};
  try {
    std::vector<std::string> result{found->s_name};
    for (char** alias = found->s_aliases; *alias != nullptr; ++alias) result.emplace_back(*alias);
    return result;
  } catch (const std::bad_alloc&) {
    return {};  // a list that could not be filled is not passed on, nor is the failure
  }
}

}  // namespace qor
