#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/socket/IdIOHandler.hpp"
#include "qorclnt/socket/IdSocketHandle.hpp"

namespace qor {

class TIdSocksInfo;

// Length of one waiting step of a timed connect, in ms.
inline constexpr int32_t ConnectStepMs = 125;
// Limit of a connect without a time-out while idle processing is in use, in ms.
inline constexpr int32_t DefaultConnectLimitMs = 120000;

// The I/O handler over one socket: binds the local end, resolves the host, connects (directly or
// through a SOCKS proxy) and, with a time-out, runs the blocking connect on a TIdConnectThread while
// the calling thread waits in short steps and can give up.
class TIdIOHandlerSocket : public TIdIOHandler {
 public:
  explicit TIdIOHandlerSocket(TComponent* AOwner);
  ~TIdIOHandlerSocket() override;

  // Closes the socket's descriptor; the socket handle object stays.
  void Close() override;
  // Connects to AHost:APort (or to the proxy of SocksInfo, which then negotiates the way to AHost),
  // bound to the given local end. ATimeout -1 or 0 connects on the calling thread; -2 or a positive
  // number of ms connects on a worker ("Connect timed out." when the time runs out, the socket then
  // closed); any other negative value allows the least time. The SOCKS dialogue and AfterConnect get
  // what is left, but at least a step (or the whole time-out when shorter). The host may be a name, a
  // dotted IPv4 address or an IPv6 address (brackets and a zone allowed). A name's addresses are tried in
  // turn (IPv4 first) within the one time-out, each attempt on a new socket with what is left of the time;
  // the last attempt's error is raised when all fail. With a bound IP only the addresses of its family are
  // tried. Reports hsResolving for a host that is a name, and hsConnecting with the address of each attempt.
  // Any other failure leaves the descriptor open (IsConnected stays true) until Close: a caller that drives
  // the handler itself closes it before trying again.
  void ConnectTo(const std::string& AHost, int32_t APort, const std::string& ABoundIP, int32_t ABoundPort,
                 int32_t ABoundPortMin, int32_t ABoundPortMax, int32_t ATimeout) override;
  // True while the socket holds a descriptor, whether or not its connect succeeded.
  bool IsConnected() override;
  // Makes the socket handle, or resets it for a new connect. The reset forgets the descriptor without
  // closing it: after a failed ConnectTo, call Close first, or that descriptor stays open for good.
  void Open() override;

  // The plain socket, below any transport that wraps its bytes: SOCKS talks to the proxy through
  // these, and the hooks of this class call them. A class that wraps the bytes (TLS) overrides the
  // hooks and builds on these; only a stand-in for the socket itself (a test double) overrides these.
  // Wait: EIdConnClosedGracefully when no socket was made. Receive and send: EIdClosedSocket
  // "Disconnected." when the socket holds no descriptor. Time-outs as TIdIOHandler::Receive has them.
  virtual TIdIOResult SocketWaitReadable(int32_t ATimeout);
  virtual TIdIOResult SocketReceive(void* ABuffer, int32_t ALength, int32_t ATimeout);
  virtual TIdIOResult SocketSend(const void* ABuffer, int32_t ALength);

  // Null until the first Open (or ConnectTo).
  TIdSocketHandle* Socket() const noexcept { return FSocket.get(); }
  // When false, ConnectTo switches Nagle's algorithm off (TCP_NODELAY).
  bool UseNagle() const noexcept { return FUseNagle; }
  void SetUseNagle(bool AValue) noexcept { FUseNagle = AValue; }
  // When true, a timed connect returns as soon as its worker's connect ends, instead of at the end of
  // the 125 ms step in which it ended; idle processing still runs at every step, and the worker is
  // still joined before the connect returns. Default false.
  bool WakeOnConnectEnd() const noexcept { return FWakeOnConnectEnd; }
  void SetWakeOnConnectEnd(bool AValue) noexcept { FWakeOnConnectEnd = AValue; }
  // The proxy settings, made on first use (owned by this handler, with Handler set to it).
  TIdSocksInfo* SocksInfo();
  // Null forgets the settings. Settings without an owner are copied into this handler's own object;
  // settings with an owner are referred to until they are removed.
  void SetSocksInfo(TIdSocksInfo* AValue);

 protected:
  void Notification(TComponent* AComponent, TOperation AOperation) override;
  // The transport hooks: the plain socket operations above.
  TIdIOResult RawWaitReadable(int32_t ATimeout) override;
  TIdIOResult RawReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) override;
  TIdIOResult RawSend(const void* ABuffer, int32_t ALength) override;
  // Runs at the end of every successful ConnectTo, after any SOCKS negotiation, with the time the
  // connect has left in ms (-2: no limit; else at least a step, see ConnectTo). A transport that
  // wraps the socket starts here (a TLS handshake, say), within that time. Base: nothing.
  virtual void AfterConnect(int32_t ATimeLeft);
  // Shuts the socket down (see TIdSocketHandle::Abort).
  void AbortTransport() override;

 private:
  // The local end that ConnectTo was given, for every socket that it allocates.
  struct TLocalEnd {
    std::string IP;
    int32_t Port;
    int32_t PortMin;
    int32_t PortMax;
  };

  // A new socket of AFamily, bound to ALocal.
  void PrepareSocket(uint16_t AFamily, const TLocalEnd& ALocal);
  // Tries AAddresses in turn until one connects, within the one AWait (no value: untimed).
  void ConnectToAddresses(const std::vector<std::string>& AAddresses, int32_t APort, const TLocalEnd& ALocal,
                          std::optional<TIdWait> AWait);
  void ConnectWithTimeout(TIdWait AWait);
  // Makes the socket handle, holding the abort lock.
  void MakeSocket();
  // Lets go of referred settings (not this handler's own object).
  void DropSocksInfoReference();

  std::unique_ptr<TIdSocketHandle> FSocket;
  bool FUseNagle = true;
  bool FWakeOnConnectEnd = false;
  TIdSocksInfo* FSocksInfo = nullptr;           // the settings in use: FOwnSocksInfo or referred ones
  std::unique_ptr<TIdSocksInfo> FOwnSocksInfo;  // settings without an owner, owned here
};

// Runs the blocking connect of a socket handle on its own thread, from construction on. The thread
// is always joined before the object goes: if the connect is still running then, it is woken by a
// shutdown of the socket first. The descriptor itself is never closed here, so its number cannot be
// handed to another socket while the worker may still use it.
class TIdConnectThread {
 public:
  explicit TIdConnectThread(TIdSocketHandle& ASocket);
  ~TIdConnectThread();
  TIdConnectThread(const TIdConnectThread&) = delete;
  TIdConnectThread& operator=(const TIdConnectThread&) = delete;

  // Set by the worker when its connect has ended.
  bool Terminated() const noexcept { return FTerminated.load(std::memory_order_acquire); }
  // Ends the worker: wakes a connect still running, then joins.
  void Stop() noexcept;
  // Waits up to AMs ms, less when the worker's connect ends first (or has ended).
  void WaitForEnd(int32_t AMs);
  // The message of the error that ended the connect; empty when it succeeded. Read after Stop.
  const std::string& ErrorMessage() const noexcept { return FErrorMessage; }

 private:
  void Execute() noexcept;

  TIdSocketHandle& FSocket;
  std::string FErrorMessage;
  std::atomic<bool> FTerminated{false};
  std::mutex FEndLock;  // guards the change of FTerminated for WaitForEnd
  std::condition_variable FEnded;
  std::thread FThread;  // last, so that it starts when everything it uses exists
};

}  // namespace qor
