#pragma once

#include <cstdint>
#include <string>

#include "FuzzInput.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"

namespace qor::fuzz {

// A connected transport whose peer is the fuzz input, without sockets, threads or real time. It
// stands in for the socket handler's plain socket, so that the connection reaches it through the
// handler's transport hooks and the SOCKS dialogue through the plain socket operations; no socket is
// ever made.
//
// What the receives see is read from the input one event at a time, when it is needed. An event
// starts with a control byte:
//   0x00-0xEF  a chunk of (byte + 1) bytes, the bytes following (fewer when the input ends);
//   0xF0       a chunk whose size less one follows in two bytes (1 to 65536 bytes);
//   0xF1       a silence: the next wait for data runs out (a receive, which blocks, outlasts it);
//   0xF2       the peer closes: this and every later receive returns 0;
//   0xF3-0xFF  a failed receive: -1 with one of the error numbers of ReceiveErrors.
// The end of the input is the peer's close. A receive takes at most the bytes asked for; the rest
// of a chunk stays for the next receive. With HoldsBytes the rest of a chunk counts as held by the
// transport, as the decrypted rest of a TLS record does: a wait then reports readable at once and a
// receive is given no time to wait.
class TFuzzIOHandler : public TIdIOHandlerSocket {
 public:
  // ASendLimit: the most bytes one send takes (0: all).
  TFuzzIOHandler(TFuzzInput& AInput, int32_t ASendLimit = 0);
  ~TFuzzIOHandler() override;

  // Every byte handed out by the receives, in order.
  const std::string& Received() const noexcept { return FReceived; }
  // Every byte taken by the sends, in order.
  const std::string& Sent() const noexcept { return FSent; }
  // True once a receive has met the peer's close or failed.
  bool Ended() const noexcept { return FPeerClosed || FReceiveFailed; }
  void SetHoldsBytes(bool AValue) noexcept { FHoldsBytes = AValue; }

  void Close() override { FConnected = false; }
  void ConnectTo(const std::string& AHost, int32_t APort, const std::string& ABoundIP, int32_t ABoundPort,
                 int32_t ABoundPortMin, int32_t ABoundPortMax, int32_t ATimeout) override;
  bool IsConnected() override { return FConnected; }
  void Open() override {}
  // EIdConnClosedGracefully when closed; a time-out for a silence, unless ATimeout is -2 (no limit).
  TIdIOResult SocketWaitReadable(int32_t ATimeout) override;
  // EIdClosedSocket "Disconnected." when closed. With a time limit it waits as above first; without
  // one it outlasts any silence.
  TIdIOResult SocketReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) override;
  TIdIOResult SocketSend(const void* ABuffer, int32_t ALength) override;

 protected:
  // With HoldsBytes, the bytes of the chunk at hand that no receive has taken yet.
  int32_t BytesHeld() override;

 private:
  enum TEventKind : uint8_t { ekChunk, ekSilence, ekClose, ekError };
  // Reads the next event unless one is waiting (a chunk is waiting while bytes of it are left).
  void PeekEvent();

  TFuzzInput& FInput;
  int32_t FSendLimit;
  bool FConnected = true;
  bool FHoldsBytes = false;
  bool FPeerClosed = false;
  bool FReceiveFailed = false;
  bool FEventWaiting = false;
  TEventKind FEvent = ekClose;
  int FErrno = 0;
  std::string FChunk;
  size_t FChunkPos = 0;
  std::string FReceived;
  std::string FSent;
};

}  // namespace qor::fuzz
