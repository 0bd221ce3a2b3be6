#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "qorclnt/socket/IdIOResult.hpp"
#include "qorclnt/socket/IdStack.hpp"

namespace qor {

// One socket descriptor of a TCP client with its two endpoints: the local address and port to bind
// (or a range of local ports to try) and the remote address and port to connect to. After a bind and
// after a connect the endpoints are read back, so they show what the system really used. Every
// system call goes through CurrentStack.
//
// Allocated() true means Descriptor() is an open descriptor owned by this handle; false with a
// descriptor other than -1 means that number was closed and is stale.
class TIdSocketHandle {
 public:
  TIdSocketHandle();
  // Closes an open descriptor.
  virtual ~TIdSocketHandle();
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  // Closes any previous descriptor, then opens a new IPv4 socket (EIdInvalidSocket when the system
  // gives none). The endpoints are kept.
  void Allocate(int32_t ASocketType, int32_t AProtocol);
  // Shuts both directions down and closes the descriptor, ignoring failures; nothing when none is
  // open. The descriptor number and the endpoints are kept.
  virtual void CloseDescriptor();
  // May be called from another thread: makes a connect, wait, receive or send on the open descriptor
  // end at once, and any later one too (a shutdown, and the shortest send time-out, which also ends
  // a connect that has not started yet). Nothing when no descriptor is open.
  void Abort() noexcept;
  // Binds to IP and Port, or, when Port is 0 and both ends of the client port range are set, to the
  // first free port of the range searched from its top. Raises EIdInvalidPortRange,
  // EIdCanNotBindPortInRange, EIdCouldNotBindSocket or EIdSocketError.
  void Bind();
  void SetRemote(const std::string& AIP, int32_t APort);
  // Connects to RemoteIP:RemotePort and, when that worked, reads both endpoints back. Returns the
  // raw result (-1 on failure, the error number left pending); blocks as long as the system does.
  virtual int32_t ConnectToPeer(uint16_t AFamily);
  // Not used by the TCP client: a receive that also reports the sender. Raw result, and like
  // ReceiveBuffer it blocks without limit.
  virtual int32_t ReceiveFrom(void* ABuffer, int32_t ALength, int32_t AFlags, std::string& VIP,
                              int32_t& VPort);

  // Read the bound (local) or connected (remote) endpoint back from the system; EIdSocketError on
  // failure.
  void ReadBackLocal();
  void ReadBackRemote();
  // True when data, or the peer's close, can be read within ATimeout ms (-2: no limit; 0: poll).
  // EIdConnClosedGracefully when no descriptor is open. With idle processing the wait is cut into
  // slices of at most the anti-freeze's IdleTimeOut, the odd remainder first.
  bool WaitReadable(int32_t ATimeout);
  // One receive of up to ALength bytes into ABuffer that waits by itself up to ATimeout ms (-2: no
  // limit; 0: poll; any other negative time: none at all): the count (0 when the peer has closed),
  // the time-out, or the failure with its error number. The wait is the socket's receive time-out,
  // given to the system only when it changes, so that a receive usually takes one system call; when a
  // signal (or the system's coarser timer) ends that receive before the time is up, a poll waits out
  // the rest. No idle turns. EIdConnClosedGracefully when no descriptor is open.
  TIdIOResult Receive(void* ABuffer, int32_t ALength, int32_t ATimeout);
  // One send of up to ALength bytes; made again when a signal interrupts it before any byte went out.
  TIdIOResult Send(const void* ABuffer, int32_t ALength);
  // Raw results: bytes moved, 0 when the peer has closed (receive), -1 on failure. A receive blocks
  // without limit again: a time-out that Receive left on the socket is taken off first.
  int32_t ReceiveBuffer(void* ABuffer, int32_t ALength, int32_t AFlags);
  int32_t SendBuffer(const void* ABuffer, int32_t ALength, int32_t AFlags);
  // setsockopt; EIdSocketError on failure. (A receive time-out set here is the caller's: only
  // Receive changes it afterwards.)
  void SetOption(int32_t ALevel, int32_t AOption, const void* AValue, int32_t ALength);
  // Forgets the descriptor (closing nothing: call it only when none is open) and the remote
  // endpoint, and with AResetLocal the local one too. The client port range is kept.
  void ResetHandle(bool AResetLocal);
  // Copies both endpoints; not the descriptor, not the port range.
  void Assign(const TIdSocketHandle& ASource);

  TIdStackSocketHandle Descriptor() const noexcept { return FDescriptor; }
  bool Allocated() const noexcept { return FAllocated; }
  const std::string& IP() const noexcept { return FIP; }
  void SetIP(std::string AIP) { FIP = std::move(AIP); }
  int32_t Port() const noexcept { return FPort; }
  void SetPort(int32_t APort) noexcept { FPort = APort; }
  const std::string& RemoteIP() const noexcept { return FRemoteIP; }
  int32_t RemotePort() const noexcept { return FRemotePort; }
  int32_t ClientPortMin() const noexcept { return FClientPortMin; }
  void SetClientPortMin(int32_t APort) noexcept { FClientPortMin = APort; }
  int32_t ClientPortMax() const noexcept { return FClientPortMax; }
  void SetClientPortMax(int32_t APort) noexcept { FClientPortMax = APort; }

 private:
  // One bind attempt: false when the address and port are in use.
  bool TryBind();
  bool BindInPortRange();
  // One wait of ATimeout ms followed by an idle turn.
  bool WaitReadableOnce(int32_t ATimeout);
  // Gives the descriptor a receive time-out of AMs ms (0: none) unless it has that one already;
  // false, with the error number pending, when the system refuses.
  bool SetReceiveTimeout(int32_t AMs);
  // Takes a time-out that Receive set off the descriptor; false as above.
  bool ClearReceiveTimeout();

  // Guards the descriptor against Abort: the descriptor and Allocated change only holding it, and a
  // descriptor is closed only holding it, so Abort never reaches a number that was handed on.
  std::mutex FLock;
  TIdStackSocketHandle FDescriptor = -1;
  bool FAllocated = false;
  std::string FIP;
  std::string FRemoteIP;
  int32_t FPort = 0;
  int32_t FRemotePort = 0;
  int32_t FClientPortMin = 0;
  int32_t FClientPortMax = 0;
  // The receive time-out this handle last gave the descriptor, in ms: 0 for none (as a new socket
  // has), -1 (not known) after SetOption set one.
  int32_t FReceiveTimeout = 0;
  // The one-descriptor list of every wait, kept so that a wait before a receive allocates nothing.
  TIdSocketDescriptors FWaitList;
};

}  // namespace qor
