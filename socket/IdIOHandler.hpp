#pragma once

#include <cstdint>
#include <string>

#include "qorclnt/connection/IdComponent.hpp"

namespace qor {

// The transport a connection reaches the network through: open, connect to a host and port, test
// for readable data with a time-out, receive, send, close, and report whether a transport is open.
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
  // Prepares for a new ConnectTo. Base: nothing.
  virtual void Open();
  // True when bytes, or the peer's close, can be received within ATimeout ms (-2: no limit; 0: poll).
  virtual bool WaitReadable(int32_t ATimeout) = 0;
  // Receives up to ALength bytes into ABuffer: the count, 0 when the peer has closed, -1 on failure
  // with the system error number left pending for CheckSocketResult.
  virtual int32_t ReceiveBuffer(void* ABuffer, int32_t ALength) = 0;
  // Sends up to ALength bytes from ABuffer: the count sent (possibly fewer) or -1 as above.
  virtual int32_t SendBuffer(const void* ABuffer, int32_t ALength) = 0;
  // Waits up to ATimeout ms (-2: no limit; 0: poll) for bytes or the peer's close and receives up to
  // ALength bytes into ABuffer: false when the time ran out with nothing received; otherwise true,
  // with VReceived as ReceiveBuffer returns it. A connection calls it only while no idle processing
  // is due, so a handler may wait in any way. Base: WaitReadable, then ReceiveBuffer.
  virtual bool ReceiveWithin(void* ABuffer, int32_t ALength, int32_t ATimeout, int32_t& VReceived);
  // Starts TLS on the open plaintext transport. Base: EIdTLSStartRefused, since it cannot.
  virtual void StartTLS();
};

}  // namespace qor
