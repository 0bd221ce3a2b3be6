#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "qorclnt/socket/IdIOHandler.hpp"

namespace qor::test {

// A TIdIOHandler without sockets, for connection, reply and SOCKS tests.
//
// Receiving follows a script of events that the test queues in advance: chunks of bytes, the peer's
// close, and failures with an error number. It overrides only the transport hooks. No real time
// passes: a wait answers at once, true while an event is queued (or after the close has been
// reached), false otherwise (a time-out), whatever its time limit; every receive makes that wait
// first. Sending records what is handed over; by
// default everything is taken, and scripted results can make a send take fewer bytes, none (the
// peer's close) or fail.
//
// Like the socket handler, it raises EIdClosedSocket ("Disconnected.") on a receive or send and
// EIdConnClosedGracefully on a wait while it is not connected. It starts unconnected; ConnectTo (or
// SetConnected) connects it, Close disconnects it.
class TFakeIOHandler : public TIdIOHandler {
 public:
  explicit TFakeIOHandler(TComponent* AOwner = nullptr);
  ~TFakeIOHandler() override;

  // --- Script of receives, delivered in order.
  // One chunk: a receive returns as many of its bytes as fit; the rest stays for the next receive.
  // An empty chunk makes one receive return 0 without reaching the close.
  TFakeIOHandler& QueueReceive(std::string ABytes);
  // The peer's close: this and every later receive returns 0, and the handler stays readable.
  TFakeIOHandler& QueueClose();
  // A failed receive with error number AErrno.
  TFakeIOHandler& QueueReceiveError(int AErrno);
  // True while scripted receive events are left (a reached close no longer counts).
  bool ReceivePending() const { return !FReceives.empty(); }

  // --- Script of sends, one result per send; when none is queued, all bytes are taken.
  // The next send takes at most AMaxBytes bytes (0: returns 0, as when the peer has gone).
  TFakeIOHandler& QueueSendLimit(int32_t AMaxBytes);
  // The next send fails with error number AErrno.
  TFakeIOHandler& QueueSendError(int AErrno);

  // --- What happened.
  // Every byte taken by the sends, in order.
  const std::string& Sent() const { return FSent; }
  // The bytes taken by each send, one entry per call (failed calls are left out).
  const std::vector<std::string>& SendCalls() const { return FSendCalls; }
  // The time-out of each wait, including the one each receive makes.
  const std::vector<int32_t>& WaitTimeouts() const { return FWaitTimeouts; }
  // The length asked for by each receive that got past its wait.
  const std::vector<int32_t>& ReceiveLengths() const { return FReceiveLengths; }
  int OpenCount() const { return FOpenCount; }
  int CloseCount() const { return FCloseCount; }

  // --- State.
  void SetConnected(bool AValue) { FConnected = AValue; }
  // Runs inside ConnectTo before it connects the handler; may raise to make the connect fail.
  std::function<void(const std::string& AHost, int32_t APort, int32_t ATimeout)> OnConnectTo;

  // TIdIOHandler.
  void Close() override;
  void ConnectTo(const std::string& AHost, int32_t APort, const std::string& ABoundIP, int32_t ABoundPort,
                 int32_t ABoundPortMin, int32_t ABoundPortMax, int32_t ATimeout) override;
  bool IsConnected() override { return FConnected; }
  void Open() override { ++FOpenCount; }

 protected:
  TIdIOResult RawWaitReadable(int32_t ATimeout) override;
  TIdIOResult RawReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) override;
  TIdIOResult RawSend(const void* ABuffer, int32_t ALength) override;

 private:
  struct TClose {};
  struct TError {
    int Errno;
  };
  using TReceiveEvent = std::variant<std::string, TClose, TError>;
  struct TSendResult {
    int32_t MaxBytes;  // used when Errno is 0
    int Errno;
  };

  void CheckConnected() const;

  std::deque<TReceiveEvent> FReceives;
  std::deque<TSendResult> FSendResults;
  bool FPeerClosed = false;
  bool FConnected = false;
  std::string FSent;
  std::vector<std::string> FSendCalls;
  std::vector<int32_t> FWaitTimeouts;
  std::vector<int32_t> FReceiveLengths;
  int FOpenCount = 0;
  int FCloseCount = 0;
};

}  // namespace qor::test
