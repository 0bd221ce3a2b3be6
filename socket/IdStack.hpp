#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

using TIdStackSocketHandle = int32_t;
// A list of descriptors for WaitForSockets.
using TIdSocketDescriptors = std::vector<TIdStackSocketHandle>;
// An IPv4 address: the four dotted fields in written order (network order).
using TIdIn4Addr = std::array<uint8_t, 4>;

inline constexpr uint16_t Id_PF_INET = 2;

// The most entries one list of a WaitForSockets call may hold.
inline constexpr size_t IdMaxSetSize = 1024;

// The one place that talks to the operating system's socket and resolver calls. The wrappers are
// thin: they return the raw system result (-1 on failure, with the error number left in errno);
// CheckSocketResult turns a failure into EIdSocketError.
class TIdStack {
 public:
  TIdStack();
  virtual ~TIdStack() = default;
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;

  // Virtual operations, in their slot order.
  // Refills the local address list from the resolver entry of this host's name.
  virtual void FillLocalAddressList() = 0;
  virtual std::string GetFirstLocalAddress() = 0;
  // This host's IPv4 addresses as dotted texts, refilled on every call; the stack keeps the list.
  virtual const std::vector<std::string>& GetLocalAddressList() = 0;
  virtual TIdStackSocketHandle AcceptConnection(TIdStackSocketHandle AHandle, std::string& VIP,
                                                int32_t& VPort) = 0;
  // An empty AIP binds to any address. A port outside 0..65535 fails with EINVAL.
  virtual int32_t BindSocket(TIdStackSocketHandle AHandle, uint16_t AFamily, const std::string& AIP,
                             int32_t APort) = 0;
  virtual int32_t CloseSocketDescriptor(TIdStackSocketHandle AHandle) = 0;
  // Blocks until the system's connect ends. A port outside 0..65535 fails with EINVAL.
  virtual int32_t ConnectSocket(TIdStackSocketHandle AHandle, uint16_t AFamily, const std::string& AIP,
                                int32_t APort) = 0;
  // The first IPv4 address of AHost; EIdSocketError with the resolver's number when it has none.
  virtual std::string LookupHostAddress(const std::string& AHost) = 0;
  virtual std::string GetLocalHostName() = 0;
  // The official name of the dotted address AIP; EIdSocketError with the resolver's number if none.
  virtual std::string LookupHostName(const std::string& AIP) = 0;
  // The port of a service name, or the name read as a number; else EIdInvalidServiceName.
  virtual int32_t ServiceToPort(const std::string& AService) = 0;
  // The official name and the aliases of the service on APort; empty when there is none.
  virtual std::vector<std::string> PortToServiceNames(int32_t APort) = 0;
  virtual uint16_t HostToNetShort(uint16_t AValue) = 0;
  virtual int32_t ListenSocket(TIdStackSocketHandle AHandle, int32_t ABacklog) = 0;
  virtual uint16_t NetToHostShort(uint16_t AValue) = 0;
  virtual uint32_t HostToNetLong(uint32_t AValue) = 0;
  virtual uint32_t NetToHostLong(uint32_t AValue) = 0;
  // Byte count, 0 when the peer has closed, -1 on failure (a negative ALength fails with EINVAL).
  virtual int32_t ReceiveData(TIdStackSocketHandle AHandle, void* ABuffer, int32_t ALength,
                              int32_t AFlags) = 0;
  virtual int32_t ReceiveDataFrom(TIdStackSocketHandle AHandle, void* ABuffer, int32_t ALength,
                                  int32_t AFlags, std::string& VIP, int32_t& VPort) = 0;
  // Waits until a descriptor of a list is ready or ATimeout ms pass (-2: no limit, 0: poll; any other
  // negative time fails with EINVAL; a signal does not cut the wait short). Each list that is not
  // null is refilled with its ready descriptors in ascending order. Returns the number of ready
  // descriptors (counted per list), 0 at the time limit, -1 on failure (a descriptor that is not
  // open fails with EBADF, and the lists are emptied); raises only EIdSetSizeExceeded, before any
  // wait, for a list of more than 1024 entries. With no lists it is a plain pause.
  virtual int32_t WaitForSockets(TIdSocketDescriptors* AReadList, TIdSocketDescriptors* AWriteList,
                                 TIdSocketDescriptors* AErrorList, int32_t ATimeout) = 0;
  // May send fewer bytes than asked; never raises SIGPIPE.
  virtual int32_t SendData(TIdStackSocketHandle AHandle, const void* ABuffer, int32_t ALength,
                           int32_t AFlags) = 0;
  virtual int32_t SendDataTo(TIdStackSocketHandle AHandle, const void* ABuffer, int32_t ALength,
                             int32_t AFlags, const std::string& AIP, int32_t APort) = 0;
  virtual int32_t SetSocketOption(TIdStackSocketHandle AHandle, int32_t ALevel, int32_t AOptName,
                                  const void* AOptVal, int32_t AOptLen) = 0;
  virtual TIdStackSocketHandle NewSocket(int32_t AFamily, int32_t ASocketType, int32_t AProtocol) = 0;
  virtual int32_t ShutdownSocket(TIdStackSocketHandle AHandle, int32_t AHow) = 0;
  // "Socket Error # <number>\r\n<text>", the text from the table of system error numbers (empty
  // for a number not in it).
  virtual std::string ErrorText(int32_t AErrorCode);
  // The calling thread's system error number.
  virtual int32_t LastSystemError() = 0;
  // The address of the peer (of the socket itself); EIdSocketError when the system call fails.
  virtual void GetPeerAddress(TIdStackSocketHandle AHandle, uint16_t& VFamily, std::string& VIP,
                              int32_t& VPort) = 0;
  virtual void GetSocketAddress(TIdStackSocketHandle AHandle, uint16_t& VFamily, std::string& VIP,
                                int32_t& VPort) = 0;
  virtual int32_t GetSocketOption(TIdStackSocketHandle AHandle, int32_t ALevel, int32_t AOptName,
                                  void* AOptVal, int32_t& VOptLen) = 0;
  // "127.0.0.1": the four bytes in stored order.
  virtual std::string FormatAddress(const TIdIn4Addr& AAddress) = 0;
  // Four fields up to the next "." (the rest after a fourth "." is ignored), each read by the number
  // rule and cut to its low 8 bits; a field that is not a number raises EConvertError.
  virtual void ParseAddress(const std::string& AIP, TIdIn4Addr& VAddress) = 0;

  // A new instance of StackClass.
  static std::unique_ptr<TIdStack> NewStack();

  // False when AResult is not -1. Otherwise records LastSystemError as the calling thread's
  // LastErrorCode and returns true when that number is in AIgnore, else raises EIdSocketError for it.
  bool CheckSocketResult(int32_t AResult, std::initializer_list<int32_t> AIgnore = {});
  // The same for a failure whose error number AError was taken at the call: recorded as the calling
  // thread's LastErrorCode; true when it is in AIgnore, else EIdSocketError for it.
  bool CheckSocketError(int32_t AError, std::initializer_list<int32_t> AIgnore = {});
  // Raises EIdSocketError with ACode and ErrorText(ACode).
  [[noreturn]] void RaiseErrorCode(int32_t ACode);
  // A new IPv4 socket; EIdInvalidSocket when the system gives none.
  TIdStackSocketHandle CreateIPv4Socket(int32_t ASocketType, int32_t AProtocol);
  // "LOCALHOST" in any case and dotted quads without a lookup; other names through the resolver.
  std::string HostToAddress(const std::string& AHost);
  // Four fields (the last one is all that follows the third "."), each a number from 0 to 255.
  bool IsDottedQuad(const std::string& AText);
  // ParseAddress as a 32-bit value in memory (network) order.
  uint32_t ParseAddressValue(const std::string& AText);

  // The error number of the last failure that CheckSocketResult of this stack saw on the calling
  // thread; 0 before the first. Each thread has its own, so threads never read each other's.
  int32_t LastErrorCode() const noexcept;

 protected:
  // Cuts the text before the next "." off ARest and returns it (all of ARest when it has no ".").
  static std::string_view CutAddressField(std::string_view& ARest);

  std::unique_ptr<std::vector<std::string>> FLocalAddressList;  // made on first request

 private:
  // Tells this stack's failures apart from another's in a thread's record of its last failure.
  const uint32_t FSerial;
};

// Makes the stack class of this platform; NewStack calls it.
using TIdStackClass = std::unique_ptr<TIdStack> (*)();
extern TIdStackClass StackClass;

// The one live stack, or null. Made when the first TIdComponent is created, released with the last.
extern std::unique_ptr<TIdStack> CurrentStack;

}  // namespace qor
