#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "qorclnt/connection/IdComponent.hpp"
#include "qorclnt/socket/IdIOResult.hpp"

namespace qor {

// The transport a connection reaches the network through: open, connect to a host and port, test
// for readable data with a time-out, receive, send, close, and report whether a transport is open.
//
// A connection only calls the non-virtual WaitReadable, Receive and Send (and ReceiveBuffer,
// SendBuffer built on them). They interpret the time-out once and then call the protected hooks,
// which a transport overrides: RawWaitReadable, RawReceive, RawSend, BytesHeld, and the public
// Close. So no override can be bypassed, and a transport that keeps bytes of its own (one that
// decrypts whole records, say) is never left waiting on its socket while it holds them.
//
// The base destructor cannot reach a derived Close (the derived part is gone by then), so a class
// that holds a transport closes it in its own destructor.
class TIdIOHandler : public TIdComponent {
 public:
  explicit TIdIOHandler(TComponent* AOwner);
  ~TIdIOHandler() override;

  // Does nothing; nothing calls it.
  virtual void EmptyHook();
  // Closes the transport; calling it again, or before any connect, is harmless. Base: nothing.
  virtual void Close();
  // Establishes the transport to AHost:APort from the given local end (empty IP and 0 ports: any
  // address, a port of the system's choice; ABoundPortMin..ABoundPortMax a local port range) within
  // ATimeout ms (-2: no limit; -1 or 0: no time-out), or raises. Base: nothing.
  virtual void ConnectTo(const std::string& AHost, int32_t APort, const std::string& ABoundIP,
                         int32_t ABoundPort, int32_t ABoundPortMin, int32_t ABoundPortMax, int32_t ATimeout);
  // True while a transport is open.
  virtual bool IsConnected() = 0;
  // Prepares for a new ConnectTo. Base: forgets an Abort.
  virtual void Open();

  // True when bytes, or the peer's close, can be received within ATimeout ms (-2: no limit; 0: poll);
  // true at once while the transport holds bytes.
  bool WaitReadable(int32_t ATimeout);
  // One receive of up to ALength bytes into ABuffer that waits up to ATimeout ms for them (-2: no
  // limit; 0: poll; any other negative time: none at all, the outcome is a time-out). While the
  // transport holds bytes it gets no time to wait. The outcome carries the count (0: the peer has
  // closed), the error number of a failure, or the time-out.
  TIdIOResult Receive(void* ABuffer, int32_t ALength, int32_t ATimeout);
  // One send of up to ALength bytes from ABuffer: the count sent (possibly fewer) or the failure.
  TIdIOResult Send(const void* ABuffer, int32_t ALength);
  // Receive without a time limit and Send, as bare counts (-1 on failure; the error number is in
  // the outcome of Receive and Send only).
  int32_t ReceiveBuffer(void* ABuffer, int32_t ALength);
  int32_t SendBuffer(const void* ABuffer, int32_t ALength);
  // Starts TLS on the open plaintext transport. Base: EIdTLSStartRefused, since it cannot.
  virtual void StartTLS();

  // The one operation that may be called from another thread: wakes a connect, wait, receive or send
  // that blocks on the handler's own thread, which then raises EIdAborted "Aborted.", as does every
  // later one until the next Open. Closing stays with the handler's own thread.
  void Abort();
  bool Aborted() const noexcept { return FAborted.load(std::memory_order_acquire); }

 protected:
  // The hooks of a transport. Each returns its outcome with the error number taken right at the
  // system call; none leaves anything in errno for later.
  //
  // Waits up to ATimeout ms (-2: no limit; 0: poll) for bytes or the peer's close: Count 1 when
  // readable, else TimedOut (or a failure, which reads as not readable).
  virtual TIdIOResult RawWaitReadable(int32_t ATimeout) = 0;
  // Receives up to ALength (at least 1) bytes, waiting up to ATimeout ms (-2: no limit; 0: poll; never
  // another negative value). A caller with idle processing waits through RawWaitReadable first and
  // then receives without limit, so a hook may wait in any way it likes.
  virtual TIdIOResult RawReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) = 0;
  // Sends up to ALength bytes; fewer is allowed.
  virtual TIdIOResult RawSend(const void* ABuffer, int32_t ALength) = 0;
  // The bytes the transport already holds for the next receive, so that nothing need be waited for.
  // Base: 0.
  virtual int32_t BytesHeld();
  // Wakes whatever blocks in the transport; called by Abort, on any thread, holding AbortLock. A
  // transport that replaces what this wakes (its socket, say) does so holding AbortLock too. Base:
  // nothing.
  virtual void AbortTransport();
  std::mutex& AbortLock() noexcept { return FAbortLock; }
  // Forgets an Abort: for Open, which starts afresh.
  void ClearAbort() noexcept { FAborted.store(false, std::memory_order_release); }
  // EIdAborted after Abort.
  void CheckAborted() const;

 private:
  std::mutex FAbortLock;
  std::atomic<bool> FAborted{false};
};

}  // namespace qor
