#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace qor {

using TIdStackSocketHandle = int32_t;
// A list of descriptors for WaitForSockets.
using TIdSocketDescriptors = std::vector<TIdStackSocketHandle>;
// An IPv4 address: the four dotted fields in written order (network order).
using TIdIn4Addr = std::array<uint8_t, 4>;

inline constexpr uint16_t Id_PF_INET = 2;

// The one place that talks to the operating system's socket and resolver calls. The wrappers are
// thin: they return the raw system result; CheckSocketResult turns a failure into EIdSocketError.
class TIdStack {
 public:
  TIdStack() = default;
  virtual ~TIdStack() = default;
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;

  // Virtual operations, in their slot order.
  virtual void FillLocalAddressList() = 0;
  virtual std::string GetFirstLocalAddress() = 0;
  virtual const std::vector<std::string>& GetLocalAddressList() = 0;
  virtual TIdStackSocketHandle AcceptConnection(TIdStackSocketHandle AHandle, std::string& VIP, int32_t& VPort) = 0;
  virtual int32_t BindSocket(TIdStackSocketHandle AHandle, uint16_t AFamily, const std::string& AIP,
                             int32_t APort) = 0;
  virtual int32_t CloseSocketDescriptor(TIdStackSocketHandle AHandle) = 0;
  virtual int32_t ConnectSocket(TIdStackSocketHandle AHandle, uint16_t AFamily, const std::string& AIP,
                                int32_t APort) = 0;
  virtual std::string LookupHostAddress(const std::string& AHost) = 0;
  virtual std::string GetLocalHostName() = 0;
  virtual std::string LookupHostName(const std::string& AIP) = 0;
  virtual int32_t ServiceToPort(const std::string& AService) = 0;
  virtual std::vector<std::string> PortToServiceNames(int32_t APort) = 0;
  virtual uint16_t HostToNetShort(uint16_t AValue) = 0;
  virtual int32_t ListenSocket(TIdStackSocketHandle AHandle, int32_t ABacklog) = 0;
  virtual uint16_t NetToHostShort(uint16_t AValue) = 0;
  virtual uint32_t HostToNetLong(uint32_t AValue) = 0;
  virtual uint32_t NetToHostLong(uint32_t AValue) = 0;
  virtual int32_t ReceiveData(TIdStackSocketHandle AHandle, void* ABuffer, int32_t ALength, int32_t AFlags) = 0;
  virtual int32_t ReceiveDataFrom(TIdStackSocketHandle AHandle, void* ABuffer, int32_t ALength, int32_t AFlags,
                                  std::string& VIP, int32_t& VPort) = 0;
  // Waits until a descriptor of a list is ready or ATimeout ms pass (-2: no limit, 0: poll). Each
  // list that is not null is refilled with its ready descriptors in ascending order. Returns the
  // number of ready descriptors, 0 at the time limit, -1 on failure; raises only EIdSetSizeExceeded
  // for a list of more than 1024 entries.
  virtual int32_t WaitForSockets(TIdSocketDescriptors* AReadList, TIdSocketDescriptors* AWriteList,
                                 TIdSocketDescriptors* AErrorList, int32_t ATimeout) = 0;
  virtual int32_t SendData(TIdStackSocketHandle AHandle, const void* ABuffer, int32_t ALength, int32_t AFlags) = 0;
  virtual int32_t SendDataTo(TIdStackSocketHandle AHandle, const void* ABuffer, int32_t ALength, int32_t AFlags,
                             const std::string& AIP, int32_t APort) = 0;
  virtual int32_t SetSocketOption(TIdStackSocketHandle AHandle, int32_t ALevel, int32_t AOptName,
                                  const void* AOptVal, int32_t AOptLen) = 0;
  virtual TIdStackSocketHandle NewSocket(int32_t AFamily, int32_t ASocketType, int32_t AProtocol) = 0;
  virtual int32_t ShutdownSocket(TIdStackSocketHandle AHandle, int32_t AHow) = 0;
  virtual std::string ErrorText(int32_t AErrorCode);
  virtual int32_t LastSystemError() = 0;
  virtual void GetPeerAddress(TIdStackSocketHandle AHandle, uint16_t& VFamily, std::string& VIP, int32_t& VPort) = 0;
  virtual void GetSocketAddress(TIdStackSocketHandle AHandle, uint16_t& VFamily, std::string& VIP,
                                int32_t& VPort) = 0;
  virtual int32_t GetSocketOption(TIdStackSocketHandle AHandle, int32_t ALevel, int32_t AOptName, void* AOptVal,
                                  int32_t& VOptLen) = 0;
  virtual std::string FormatAddress(const TIdIn4Addr& AAddress) = 0;
  virtual void ParseAddress(const std::string& AIP, TIdIn4Addr& VAddress) = 0;

  // A new instance of StackClass.
  static std::unique_ptr<TIdStack> NewStack();

  // False when AResult is not -1. Otherwise records LastSystemError in LastErrorCode and returns true
  // when that number is in AIgnore, else raises EIdSocketError for it.
  bool CheckSocketResult(int32_t AResult, std::initializer_list<int32_t> AIgnore = {});
  [[noreturn]] void RaiseErrorCode(int32_t ACode);
  // A new IPv4 socket; EIdInvalidSocket when the system gives none.
  TIdStackSocketHandle CreateIPv4Socket(int32_t ASocketType, int32_t AProtocol);
  // "LOCALHOST" in any case and dotted quads without a lookup; other names through the resolver.
  std::string HostToAddress(const std::string& AHost);
  bool IsDottedQuad(const std::string& AText);
  // ParseAddress as a 32-bit value in memory (network) order.
  uint32_t ParseAddressValue(const std::string& AText);

  int32_t LastErrorCode() const noexcept { return FLastErrorCode.load(std::memory_order_relaxed); }

 protected:
  std::unique_ptr<std::vector<std::string>> FLocalAddressList;  // made on first request

 private:
  std::atomic<int32_t> FLastErrorCode{0};
};

// Makes the stack class of this platform; NewStack calls it.
using TIdStackClass = std::unique_ptr<TIdStack> (*)();
extern TIdStackClass StackClass;

// The one live stack, or null. Made when the first TIdComponent is created, released with the last.
extern std::unique_ptr<TIdStack> CurrentStack;

}  // namespace qor
