#include "qorclnt/socket/IdStackLinux.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/Sanitized.hpp"
#include "qorclnt/runtime/Strings.hpp"
#include "qorclnt/socket/IdStackAddress.hpp"
#include "qorclnt/socket/IdStackLinuxPoll.hpp"

namespace qor {

// The stack class of this system. Defined here so that whatever links TIdStack::NewStack links
// the Linux stack too.
TIdStackClass StackClass = []() -> std::unique_ptr<TIdStack> { return std::make_unique<TIdStackLinux>(); };

namespace {

// Keeps the error number of a system call across the work a wrapper does after it, and puts it back
// into errno when the wrapper returns.
class TKeptErrno {
 public:
  TKeptErrno() noexcept : FErrno(errno) {}
  ~TKeptErrno() { errno = FErrno; }
  TKeptErrno(const TKeptErrno&) = delete;
  TKeptErrno& operator=(const TKeptErrno&) = delete;
  int& Value() noexcept { return FErrno; }

 private:
  int FErrno;
};

// The byte transfers of the hot paths. The C library's send and recv are cancellation points: once a
// process has started a second thread (the timed connect does), each call switches asynchronous
// cancellation on before the system call and off after it. Nothing in this system is ever cancelled,
// so that buys nothing, and on a reply of many short lines it costs a measurable share of the
// client's time: so these make the same system calls directly, with the same results. Sanitizer
// builds keep the C library's calls, which the sanitizers intercept to see every buffer.
ssize_t SendBytes(int AFd, const void* AData, size_t ALength, int AFlags) {
#ifdef QOR_SANITIZED
  return ::send(AFd, AData, ALength, AFlags);
#else
  return static_cast<ssize_t>(::syscall(SYS_sendto, AFd, AData, ALength, AFlags, nullptr, socklen_t{0}));
#endif
}

ssize_t ReceiveBytes(int AFd, void* ABuffer, size_t ALength, int AFlags) {
#ifdef QOR_SANITIZED
  return ::recv(AFd, ABuffer, ALength, AFlags);
#else
  return static_cast<ssize_t>(::syscall(SYS_recvfrom, AFd, ABuffer, ALength, AFlags, nullptr, nullptr));
#endif
}

// Fails the way a system call does when an argument is out of its range.
int32_t InvalidArgument() {
  errno = EINVAL;
  return -1;
}

bool IsPort(int32_t APort) {
  return APort >= 0 && APort <= 65535;
}

// A socket address of either family, as the system calls take and give it.
struct TSockAddr {
  sockaddr_storage Storage{};
  socklen_t Length = sizeof Storage;

  sockaddr* Get() noexcept { return reinterpret_cast<sockaddr*>(&Storage); }
  sockaddr_in& V4() noexcept { return *reinterpret_cast<sockaddr_in*>(&Storage); }
  sockaddr_in6& V6() noexcept { return *reinterpret_cast<sockaddr_in6*>(&Storage); }
};

// The socket address of AIP and APort: IPv6 for a text with a ":" (its zone included) or for an
// empty AIP with AFamily Id_PF_INET6 (the any address), otherwise the IPv4 address that ParseAddress
// reads, with AFamily as given. False, with errno EINVAL, for an IPv6 text that cannot be used.
bool MakeSockAddr(TIdStack& AStack, uint16_t AFamily, const std::string& AIP, int32_t APort,
                  TSockAddr& VAddress) {
  const auto port = htons(static_cast<uint16_t>(APort));
  if (IsIPv6Text(AIP) || (AIP.empty() && AFamily == Id_PF_INET6)) {
    TIdIPv6Address address;  // the any address when AIP is empty
    if (!AIP.empty() && !ParseIPv6(AIP, address)) {
      errno = EINVAL;
      return false;
    }
    sockaddr_in6& result = VAddress.V6();
    result.sin6_family = AF_INET6;
    result.sin6_port = port;
    std::memcpy(&result.sin6_addr, address.Address.data(), address.Address.size());
    result.sin6_scope_id = address.Zone;
    VAddress.Length = sizeof result;
    return true;
  }
  TIdIn4Addr address{};  // the any address when AIP is empty
  if (!AIP.empty()) AStack.ParseAddress(AIP, address);
  sockaddr_in& result = VAddress.V4();
  result.sin_family = AFamily;
  result.sin_port = port;
  std::memcpy(&result.sin_addr, address.data(), address.size());
  VAddress.Length = sizeof result;
  return true;
}

// The address text (dotted for IPv4, FormatIPv6 for IPv6) and the host-order port of AAddress.
void ReadSockAddr(TIdStack& AStack, TSockAddr& AAddress, std::string& VIP, int32_t& VPort) {
  if (AAddress.Storage.ss_family == AF_INET6) {
    const sockaddr_in6& source = AAddress.V6();
    TIdIPv6Address address;
    std::memcpy(address.Address.data(), &source.sin6_addr, address.Address.size());
    address.Zone = source.sin6_scope_id;
    VIP = FormatIPv6(address);
    VPort = ntohs(source.sin6_port);
    return;
  }
  TIdIn4Addr address{};
  std::memcpy(address.data(), &AAddress.V4().sin_addr, address.size());
  VIP = AStack.FormatAddress(address);
  VPort = ntohs(AAddress.V4().sin_port);
}

// The address that getpeername or getsockname (ACall) gives for AHandle; raises on failure.
void QuerySockAddr(TIdStack& AStack, int (*ACall)(int, sockaddr*, socklen_t*), TIdStackSocketHandle AHandle,
                   uint16_t& VFamily, std::string& VIP, int32_t& VPort) {
  TSockAddr address;
  AStack.CheckSocketResult(ACall(AHandle, address.Get(), &address.Length));
  VFamily = address.Storage.ss_family;
  ReadSockAddr(AStack, address, VIP, VPort);
}

// Waits for the end of the connect that a signal interrupted on AHandle, as the connect itself would
// have waited: no longer than the socket's send time-out, when it has one (then EINPROGRESS), and
// resuming with the time that is left after further signals. Returns what connect would have.
int32_t FinishConnect(TIdStackSocketHandle AHandle) {
  timeval limit{};
  socklen_t size = sizeof limit;
  ::getsockopt(AHandle, SOL_SOCKET, SO_SNDTIMEO, &limit, &size);
  std::optional<TPollClock::time_point> deadline;
  if (limit.tv_sec != 0 || limit.tv_usec != 0) {
    deadline =
        TPollClock::now() + std::chrono::seconds(limit.tv_sec) + std::chrono::microseconds(limit.tv_usec);
  }
  pollfd entry{AHandle, POLLOUT, 0};
  const int ready = PollUntil({&entry, 1}, deadline);
  if (ready == 0) errno = EINPROGRESS;
  if (ready <= 0) return -1;
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(AHandle, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return -1;
  if (error == 0) return 0;
  errno = error;
  return -1;
}

}  // namespace

TIdStackSocketHandle TIdStackLinux::AcceptConnection(TIdStackSocketHandle AHandle, std::string& VIP,
                                                     int32_t& VPort) {
  TSockAddr address;
  // Close-on-exec from the start, so that no program the user starts inherits the connection.
  const int result = ::accept4(AHandle, address.Get(), &address.Length, SOCK_CLOEXEC);
  TKeptErrno error;
  if (result == -1) {
    if (error.Value() == EBADF) error.Value() = EINTR;
  } else {
    ReadSockAddr(*this, address, VIP, VPort);
  }
  return result;
}

int32_t TIdStackLinux::BindSocket(TIdStackSocketHandle AHandle, uint16_t AFamily, const std::string& AIP,
                                  int32_t APort) {
  TSockAddr address;
  if (!IsPort(APort) || !MakeSockAddr(*this, AFamily, AIP, APort, address)) return InvalidArgument();
  return ::bind(AHandle, address.Get(), address.Length);
}

int32_t TIdStackLinux::CloseSocketDescriptor(TIdStackSocketHandle AHandle) {
  return ::close(AHandle);
}

int32_t TIdStackLinux::ConnectSocket(TIdStackSocketHandle AHandle, uint16_t AFamily, const std::string& AIP,
                                     int32_t APort) {
  TSockAddr address;
  if (!IsPort(APort) || !MakeSockAddr(*this, AFamily, AIP, APort, address)) return InvalidArgument();
  if (::connect(AHandle, address.Get(), address.Length) == 0) return 0;
  // A signal ends the wait, not the connect, which goes on in the system: wait for its end instead.
  return errno == EINTR ? FinishConnect(AHandle) : -1;
}

uint16_t TIdStackLinux::HostToNetShort(uint16_t AValue) {
  return htons(AValue);
}

int32_t TIdStackLinux::ListenSocket(TIdStackSocketHandle AHandle, int32_t ABacklog) {
  return ::listen(AHandle, ABacklog);
}

uint16_t TIdStackLinux::NetToHostShort(uint16_t AValue) {
  return ntohs(AValue);
}

uint32_t TIdStackLinux::HostToNetLong(uint32_t AValue) {
  return htonl(AValue);
}

uint32_t TIdStackLinux::NetToHostLong(uint32_t AValue) {
  return ntohl(AValue);
}

// A negative length would reach the system as a huge size and let it read or write past the buffer.
int32_t TIdStackLinux::ReceiveData(TIdStackSocketHandle AHandle, void* ABuffer, int32_t ALength,
                                   int32_t AFlags) {
  if (ALength < 0) return InvalidArgument();
  return static_cast<int32_t>(
      ReceiveBytes(AHandle, ABuffer, static_cast<size_t>(ALength), AFlags | MSG_NOSIGNAL));
}

int32_t TIdStackLinux::ReceiveDataFrom(TIdStackSocketHandle AHandle, void* ABuffer, int32_t ALength,
                                       int32_t AFlags, std::string& VIP, int32_t& VPort) {
  if (ALength < 0) return InvalidArgument();
  TSockAddr address;
  const auto result = static_cast<int32_t>(::recvfrom(AHandle, ABuffer, static_cast<size_t>(ALength),
                                                      AFlags | MSG_NOSIGNAL, address.Get(), &address.Length));
  const TKeptErrno error;
  if (result != -1) ReadSockAddr(*this, address, VIP, VPort);
  return result;
}

int32_t TIdStackLinux::SendData(TIdStackSocketHandle AHandle, const void* ABuffer, int32_t ALength,
                                int32_t AFlags) {
  if (ALength < 0) return InvalidArgument();
  return static_cast<int32_t>(
      SendBytes(AHandle, ABuffer, static_cast<size_t>(ALength), AFlags | MSG_NOSIGNAL));
}

int32_t TIdStackLinux::SendDataTo(TIdStackSocketHandle AHandle, const void* ABuffer, int32_t ALength,
                                  int32_t AFlags, const std::string& AIP, int32_t APort) {
  TSockAddr address;
  if (ALength < 0 || !IsPort(APort) || !MakeSockAddr(*this, Id_PF_INET, AIP, APort, address)) {
    return InvalidArgument();
  }
  return static_cast<int32_t>(::sendto(AHandle, ABuffer, static_cast<size_t>(ALength), AFlags | MSG_NOSIGNAL,
                                       address.Get(), address.Length));
}

int32_t TIdStackLinux::SetSocketOption(TIdStackSocketHandle AHandle, int32_t ALevel, int32_t AOptName,
                                       const void* AOptVal, int32_t AOptLen) {
  return ::setsockopt(AHandle, ALevel, AOptName, AOptVal, static_cast<socklen_t>(AOptLen));
}

TIdStackSocketHandle TIdStackLinux::NewSocket(int32_t AFamily, int32_t ASocketType, int32_t AProtocol) {
  // Close-on-exec from the start, so that no program the user starts inherits the socket.
  return ::socket(AFamily, ASocketType | SOCK_CLOEXEC, AProtocol);
}

int32_t TIdStackLinux::ShutdownSocket(TIdStackSocketHandle AHandle, int32_t AHow) {
  return ::shutdown(AHandle, AHow);
}

std::string TIdStackLinux::ErrorText(int32_t AErrorCode) {
  // 1 to 3 are no error numbers of a socket call: they give the resolver's texts. 4 is EINTR as well
  // as the resolver's "no data", so it gives the system's text; the resolver's own failures carry
  // theirs through RaiseResolverError.
  return AErrorCode >= 1 && AErrorCode <= 3 ? ResolverText(AErrorCode) : TIdStack::ErrorText(AErrorCode);
}

void TIdStackLinux::RaiseResolverError(int32_t ACode) {
  Raise(EIdSocketError::CreateWithCode(ACode, ResolverText(ACode)));
}

std::string TIdStackLinux::ResolverText(int32_t ACode) {
  switch (ACode) {
    case 1:
      return RSHostNotFound;
    case 2:
      return RSTryAgain;
    case 3:
      return RSNoRecovery;
    case 4:
      return RSNoData;
    default:
      return TIdStack::ErrorText(ACode);
  }
}

int32_t TIdStackLinux::LastSystemError() {
  const int error = errno;
  return error == EPIPE ? ECONNRESET : error;
}

void TIdStackLinux::GetPeerAddress(TIdStackSocketHandle AHandle, uint16_t& VFamily, std::string& VIP,
                                   int32_t& VPort) {
  QuerySockAddr(*this, ::getpeername, AHandle, VFamily, VIP, VPort);
}

void TIdStackLinux::GetSocketAddress(TIdStackSocketHandle AHandle, uint16_t& VFamily, std::string& VIP,
                                     int32_t& VPort) {
  QuerySockAddr(*this, ::getsockname, AHandle, VFamily, VIP, VPort);
}

int32_t TIdStackLinux::GetSocketOption(TIdStackSocketHandle AHandle, int32_t ALevel, int32_t AOptName,
                                       void* AOptVal, int32_t& VOptLen) {
  auto length = static_cast<socklen_t>(VOptLen);
  const int result = ::getsockopt(AHandle, ALevel, AOptName, AOptVal, &length);
  VOptLen = static_cast<int32_t>(length);
  return result;
}

std::string TIdStackLinux::FormatAddress(const TIdIn4Addr& AAddress) {
  std::string result;
  for (const uint8_t byte : AAddress) {
    if (!result.empty()) result += '.';
    result += std::to_string(byte);
  }
  return result;
}

void TIdStackLinux::ParseAddress(const std::string& AIP, TIdIn4Addr& VAddress) {
  std::string_view rest = AIP;
  TIdIn4Addr address{};
  for (uint8_t& byte : address) byte = static_cast<uint8_t>(StrToInt(CutAddressField(rest)));
  VAddress = address;
}

}  // namespace qor
