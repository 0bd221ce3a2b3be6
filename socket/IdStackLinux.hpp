#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qorclnt/socket/IdStack.hpp"

namespace qor {

// The socket stack over Linux's socket and resolver calls, IPv4 only. Sends and receives pass
// MSG_NOSIGNAL, so a write to a closed peer fails with an error number instead of a signal.
class TIdStackLinux : public TIdStack {
 public:
  void FillLocalAddressList() override;
  std::string GetFirstLocalAddress() override;
  const std::vector<std::string>& GetLocalAddressList() override;
  // A failure with EBADF is reported as EINTR.
  TIdStackSocketHandle AcceptConnection(TIdStackSocketHandle AHandle, std::string& VIP,
                                        int32_t& VPort) override;
  int32_t BindSocket(TIdStackSocketHandle AHandle, uint16_t AFamily, const std::string& AIP,
                     int32_t APort) override;
  int32_t CloseSocketDescriptor(TIdStackSocketHandle AHandle) override;
  // A connect that a signal interrupts is waited for to its end (as far as the send time-out allows).
  int32_t ConnectSocket(TIdStackSocketHandle AHandle, uint16_t AFamily, const std::string& AIP,
                        int32_t APort) override;
  std::string LookupHostAddress(const std::string& AHost) override;
  std::string GetLocalHostName() override;
  std::string LookupHostName(const std::string& AIP) override;
  int32_t ServiceToPort(const std::string& AService) override;
  std::vector<std::string> PortToServiceNames(int32_t APort) override;
  uint16_t HostToNetShort(uint16_t AValue) override;
  int32_t ListenSocket(TIdStackSocketHandle AHandle, int32_t ABacklog) override;
  uint16_t NetToHostShort(uint16_t AValue) override;
  uint32_t HostToNetLong(uint32_t AValue) override;
  uint32_t NetToHostLong(uint32_t AValue) override;
  int32_t ReceiveData(TIdStackSocketHandle AHandle, void* ABuffer, int32_t ALength, int32_t AFlags) override;
  int32_t ReceiveDataFrom(TIdStackSocketHandle AHandle, void* ABuffer, int32_t ALength, int32_t AFlags,
                          std::string& VIP, int32_t& VPort) override;
  int32_t WaitForSockets(TIdSocketDescriptors* AReadList, TIdSocketDescriptors* AWriteList,
                         TIdSocketDescriptors* AErrorList, int32_t ATimeout) override;
  int32_t SendData(TIdStackSocketHandle AHandle, const void* ABuffer, int32_t ALength,
                   int32_t AFlags) override;
  int32_t SendDataTo(TIdStackSocketHandle AHandle, const void* ABuffer, int32_t ALength, int32_t AFlags,
                     const std::string& AIP, int32_t APort) override;
  int32_t SetSocketOption(TIdStackSocketHandle AHandle, int32_t ALevel, int32_t AOptName, const void* AOptVal,
                          int32_t AOptLen) override;
  TIdStackSocketHandle NewSocket(int32_t AFamily, int32_t ASocketType, int32_t AProtocol) override;
  int32_t ShutdownSocket(TIdStackSocketHandle AHandle, int32_t AHow) override;
  // The numbers 1 to 3 are the resolver's and give its bare text; the rest (4, EINTR, included) as
  // the base class.
  std::string ErrorText(int32_t AErrorCode) override;
  // errno, with EPIPE reported as ECONNRESET.
  int32_t LastSystemError() override;
  void GetPeerAddress(TIdStackSocketHandle AHandle, uint16_t& VFamily, std::string& VIP,
                      int32_t& VPort) override;
  void GetSocketAddress(TIdStackSocketHandle AHandle, uint16_t& VFamily, std::string& VIP,
                        int32_t& VPort) override;
  int32_t GetSocketOption(TIdStackSocketHandle AHandle, int32_t ALevel, int32_t AOptName, void* AOptVal,
                          int32_t& VOptLen) override;
  std::string FormatAddress(const TIdIn4Addr& AAddress) override;
  void ParseAddress(const std::string& AIP, TIdIn4Addr& VAddress) override;

  // EIdSocketError for the resolver's number ACode (h_errno: 1 host not found, 2 try again, 3 no
  // recovery, 4 no data) with the resolver's bare text.
  [[noreturn]] void RaiseResolverError(int32_t ACode);

 private:
  // The resolver's text for its number ACode; the base class's text for any other number.
  std::string ResolverText(int32_t ACode);
};

}  // namespace qor
