#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "qorclnt/connection/IdBaseComponent.hpp"
#include "qorclnt/connection/IdBuffers.hpp"
#include "qorclnt/connection/IdComponent.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/connection/IdRFCReply.hpp"
#include "qorclnt/runtime/Exception.hpp"
#include "qorclnt/runtime/MemoryStream.hpp"
#include "qorclnt/socket/IdIOHandler.hpp"
#include "qorclnt/socket/IdIntercept.hpp"

namespace qor {

// What ReadLn does with a line longer than its maximum.
enum TIdMaxLineAction : uint8_t { maException, maSplit };

inline constexpr int32_t IdMaxLineLengthDefault = 16384;
inline constexpr int32_t IdRecvBufferSizeDefault = 32768;
inline constexpr int32_t IdSendBufferSizeDefault = 32768;

// Reply codes that a numeric reply may carry; an empty list allows every code.
using TIdReplyCodes = std::vector<int16_t>;

// A TCP connection over an I/O handler: it buffers what it receives, reads lines with time-outs and a
// length limit, writes text, numbers and streams, and notices a close by the peer. An intercept, when
// attached, sees every byte in and out. Used from one thread at a time.
//
// A close is noticed by the receive or send that transfers zero bytes: it sets ClosedMark, and the
// CheckClosed that follows in the same operation closes the socket and announces hsDisconnected and
// OnDisconnected, once.
class TIdTCPConnection : public TIdComponent {
 public:
  explicit TIdTCPConnection(TComponent* AOwner);
  ~TIdTCPConnection() override;

  // Calls OnDisconnected with this connection as sender.
  virtual void FireDisconnected();
  // Empties the input buffer (nobody is told) and clears ClosedMark, before a new connect.
  virtual void ResetForConnect();
  // Everything received until the peer closes, inside a read-work span.
  virtual std::string ReadAll();
  // Completes a close marked by ClosedMark (closes the socket, then hsDisconnected, then
  // OnDisconnected). When the connection counts as closed and ARaiseIfClosed is set, raises
  // EIdConnClosedGracefully if nothing is buffered or AIgnoreBuffered is set.
  virtual void CheckClosed(bool ARaiseIfClosed, bool AIgnoreBuffered);
  // Notices a close by the peer: a receive that waits at most 1 ms and keeps what arrives.
  virtual void PollForClose(bool ARaiseIfClosed);
  // ACode when AAllowed is empty or holds it; otherwise RaiseReplyError.
  virtual int16_t CheckReplyCode(int16_t ACode, const TIdReplyCodes& AAllowed);
  // True when an I/O handler is attached and its transport is open, after completing a marked close.
  // Inline: it is asked before every reply line.
  virtual bool Connected() {
    if (FClosedMark) CheckClosed(false, false);
    return FIOHandler != nullptr && FIOHandler->IsConnected();
  }
  // Full close, always performed: hsDisconnecting, DropSocket, free an owned handler,
  // OnDisconnected, hsDisconnected. Buffered input stays.
  virtual void Disconnect();
  // Closes the socket without notifications (the intercept is told first) and sets ClosedMark.
  virtual void DropSocket();
  // The one operation that may be called from another thread while the connection lives: wakes a
  // connect, read, write or wait that blocks on the connection's own thread, which then raises
  // EIdAborted "Aborted." (an EIdTCPConnectionError), as does every later one on the same socket.
  // The connection stays as it was until its own thread disconnects it; the next connect starts
  // afresh. Nothing happens when no handler is attached.
  void Abort();
  // Reads one numeric reply into LastReply and returns its code, checked against AAllowed.
  virtual int16_t ReadReply(const TIdReplyCodes& AAllowed);
  // Raises EIdProtocolReplyError with LastReply's code and text (each line followed by LF).
  [[noreturn]] virtual void RaiseReplyError();
  // Raises an error of AKind with LastReply's text.
  [[noreturn]] virtual void RaiseReplyError(ExceptClass AKind);
  // One receive of at most RecvBufferSize bytes into the input buffer, after waiting up to ATimeout ms
  // (-1: ReadTimeout, or no limit when that is 0; -2: no limit). Returns the bytes added, 0 when the
  // peer has closed (or, without ARaiseIfClosed, when not connected), -1 on a time-out without
  // ARaiseOnTimeout.
  virtual int32_t FillInputBuffer(bool ARaiseIfClosed, int32_t ATimeout, bool ARaiseOnTimeout);
  // The next line without its terminator (empty: LF; with LF one CR before it is dropped too).
  // AMaxLineLength -1 means MaxLineLength, 0 no limit. ATimeout -1 raises EIdReadTimeout when a wait
  // runs out; any other time-out returns the empty text with LineReadEmpty set, as does a close with a
  // partial line buffered.
  virtual std::string ReadLn(const std::string& ATerminator = "\n", int32_t ATimeout = IdTimeoutDefault,
                             int32_t AMaxLineLength = -1);
  // Upgrades the open connection to TLS through the I/O handler. Refused with EIdTLSStartRefused, and
  // the connection closed, when received bytes are still unread: plaintext that came before the
  // upgrade must never be read as if it had come over TLS. A failed handshake closes the connection.
  virtual void StartTLS();
  // Sends ACommand as a line, then ReadReply(AAllowed).
  virtual int16_t SendCommand(const std::string& ACommand, const TIdReplyCodes& AAllowed);
  // Sends the bytes of AOut; nothing at all for an empty text. A text of 2 GiB or more goes out in
  // several WriteBytes.
  virtual void Write(const std::string& AOut);
  // Sends AOut followed by CR LF, in one WriteBytes.
  virtual void WriteLn(const std::string& AOut = "");
  // Sends ACount bytes (0: up to the end) of AStream in chunks of SendBufferSize, inside a write-work
  // span, from the start when AFromStart; with ASendByteCount the count goes first, as WriteInt32.
  // EIdStreamTooLarge, before anything is sent, for more than 2 GiB - 1 bytes.
  virtual void WriteFromStream(TStream* AStream, bool AFromStart = true, bool ASendByteCount = false,
                               int32_t ACount = 0);
  // Sends the whole file; returns its size. EIdFileNotFound when it does not exist.
  virtual uint32_t WriteFileContents(const std::string& AFileName);

  // ReadLn into VLine, whose memory is reused: a caller that reads line after line into one string
  // allocates nothing once it holds the longest line. VLine is empty where ReadLn returns empty.
  void ReadLn(std::string& VLine, const std::string& ATerminator, int32_t ATimeout, int32_t AMaxLineLength) {
    // Inline, for the usual line: one ended by a lone LF and already buffered.
    const bool lineFeed = ATerminator.empty() || (ATerminator.size() == 1 && ATerminator[0] == '\n');
    if (lineFeed && TakeBufferedLine(VLine, AMaxLineLength)) return;
    ReadLnSearching(VLine, ATerminator, ATimeout, AMaxLineLength);
  }
  // Reads lines as ReadLn(LF, ATimeout, AMaxLineLength) does and hands each to AUse, a callable that
  // takes a std::string_view, followed by one LF: its own, or the CR before it turned into one (a
  // line that ReadLn returns empty comes as the LF alone). While AUse returns true, the next line goes
  // to it at once if it is already buffered; the call returns once AUse has returned false or before
  // anything would be received. A buffered line is handed as a view into the input buffer, without a
  // copy, valid only during the call of AUse; it counts as consumed even when AUse raises. AUse must
  // not read from this connection: the line is consumed after it returns.
  template <class TUse>
  void ReadLnWith(TUse&& AUse, int32_t ATimeout, int32_t AMaxLineLength) {
    int64_t length = 0;
    int64_t taken = 0;
    if (!FindLineReceiving(ATimeout, AMaxLineLength, length, taken)) {
      // A receive that brought nothing gives ReadLn's empty line; the rest goes the general way.
      AUse(FLineReadEmpty ? std::string_view("\n") : SearchLineWithLineFeed(ATimeout, AMaxLineLength));
      return;
    }
    bool more = true;
    do {
      // The LF goes where the line ends: over the CR before the LF, or onto the LF itself. The bytes
      // are consumed right after, so nobody else sees the change. A found line is shorter than
      // 2 GiB, so one Discard takes it.
      char* const line = FInBuffer.UnreadStart();
      line[length] = '\n';
      try {
        more = AUse(std::string_view(line, static_cast<size_t>(length) + 1));
      } catch (...) {
        FInBuffer.Discard(static_cast<int32_t>(taken));
        throw;
      }
      FInBuffer.Discard(static_cast<int32_t>(taken));
    } while (more && FindBufferedLine(AMaxLineLength, length, taken));
  }
  // The next line that is not blank, trimmed; up to AMaxAttempts lines are read.
  std::string ReadLnNonBlank(int32_t AMaxAttempts);
  // One receive when connected, then everything buffered.
  std::string ReadAvailable();
  // Reads the lines of one numeric reply into LastReply: non-blank lines, trimmed, until the line
  // that starts with the first line's code and a space when that one announced more with a hyphen.
  void ReadReplyLines();
  // Sends ACount bytes, handing the whole remainder to the I/O handler in each pass.
  void WriteBytes(const void* AData, int32_t ACount);
  // Sends the four bytes of AValue, most significant first when AToNetworkOrder.
  void WriteInt32(int32_t AValue, bool AToNetworkOrder = true);
  // The input buffer's consumption notice: read-work progress of ACount bytes.
  void InputConsumed(TIdSimpleBuffer* ASender, int32_t ACount);

  bool ASCIIFilter() const noexcept { return FASCIIFilter; }
  void SetASCIIFilter(bool AValue) noexcept { FASCIIFilter = AValue; }
  bool ClosedMark() const noexcept { return FClosedMark; }
  bool OwnsIOHandler() const noexcept { return FOwnsIOHandler; }
  void SetOwnsIOHandler(bool AValue) noexcept { FOwnsIOHandler = AValue; }
  // Received bytes not yet consumed. Take from it only through TakeString or Discard, which tell this
  // connection; only ResetForConnect empties it otherwise.
  TIdManagedBuffer& InBuffer() noexcept { return FInBuffer; }
  TIdRFCReply& LastReply() noexcept { return FLastReply; }
  TIdConnectionIntercept* Intercept() const noexcept { return FIntercept; }
  void SetIntercept(TIdConnectionIntercept* AValue);
  TIdIOHandler* IOHandler() const noexcept { return FIOHandler; }
  // Frees the current handler first when this connection owns it; asks to be told when the new one
  // is removed.
  void SetIOHandler(TIdIOHandler* AValue);
  TIdMaxLineAction MaxLineAction() const noexcept { return FMaxLineAction; }
  void SetMaxLineAction(TIdMaxLineAction AValue) noexcept { FMaxLineAction = AValue; }
  int32_t MaxLineLength() const noexcept { return FMaxLineLength; }
  void SetMaxLineLength(int32_t AValue) noexcept { FMaxLineLength = AValue; }
  bool LineReadEmpty() const noexcept { return FLineReadEmpty; }
  int32_t ReadTimeout() const noexcept { return FReadTimeout; }
  void SetReadTimeout(int32_t AValue) noexcept { FReadTimeout = AValue; }
  int32_t RecvBufferSize() const noexcept { return FRecvBufferSize; }
  void SetRecvBufferSize(int32_t AValue) noexcept { FRecvBufferSize = AValue; }
  int32_t SendBufferSize() const noexcept { return FSendBufferSize; }
  void SetSendBufferSize(int32_t AValue) noexcept { FSendBufferSize = AValue; }

  TNotifyEvent OnDisconnected;

 protected:
  void Notification(TComponent* AComponent, TOperation AOperation) override;

 private:
  // Frees the handler this connection owns and forgets it.
  void FreeOwnedIOHandler();
  // Sets FIOHandler, holding FHandlerLock.
  void AttachHandler(TIdIOHandler* AValue);
  // Hands ACount bytes at AData to the I/O handler until all are sent.
  void SendAll(const char* AData, int32_t ACount);
  // One receive for FillInputBuffer within AWait: into the input buffer's room, or the receive chunk
  // when an intercept is set; VTarget says where (null: no handler left).
  TIdIOResult ReceiveOnce(TIdWait AWait, char*& VTarget);
  // A receive or send that failed with AError: a connection shut down, aborted or reset has its socket
  // closed and, with ARaise, the error raised; any other error is raised as it is.
  void TransferFailed(int32_t AError, bool ARaise);
  // Filters ACount bytes received at AData (intercept, ASCIIFilter) and makes them unread bytes of the
  // input buffer; returns their number. AData is the receive chunk or the input buffer's room.
  int32_t StoreReceived(char* AData, int32_t ACount);
  // 1-based position of ATerminator among the unread bytes, searching only bytes not searched
  // before; 0 when absent.
  int64_t FindTerminator(const std::string& ATerminator);
  // ReadLn into VLine through the general search, receiving until a line is complete.
  void ReadLnSearching(std::string& VLine, const std::string& ATerminator, int32_t ATimeout,
                       int32_t AMaxLineLength);
  // The usual line, found without the general search: when no search went before in vain and an LF
  // ends a line of at most AMaxLineLength bytes (-1: MaxLineLength, 0: any) among the buffered bytes,
  // true with the line's length (without the LF and a CR before it) and the bytes it takes up (with
  // them). Otherwise false, with FScanStart behind the bytes it searched.
  // Inline: it runs once a line.
  bool FindBufferedLine(int32_t AMaxLineLength, int64_t& VLength, int64_t& VTaken) {
    if (FScanStart != 0) return false;  // searched before in vain: the general search goes on
    if (AMaxLineLength == -1) AMaxLineLength = FMaxLineLength;
    // A line within the limit has its LF among the first AMaxLineLength + 1 bytes.
    const int64_t size = FInBuffer.Size();
    const int64_t span = AMaxLineLength == 0 ? size : std::min<int64_t>(size, int64_t{AMaxLineLength} + 1);
    if (span == 0 || span > INT32_MAX) return false;
    const char* const unread = FInBuffer.UnreadStart();
    const auto* const lf = static_cast<const char*>(std::memchr(unread, '\n', static_cast<size_t>(span)));
    if (lf == nullptr) {
      SearchedInVain(span, LineFeed());
      return false;
    }
    VTaken = lf - unread + 1;
    VLength = VTaken > 1 && lf[-1] == '\r' ? VTaken - 2 : VTaken - 1;
    return true;
  }
  // One receive for a line that is not complete yet, as ReadLn makes it (ATimeout as there); false,
  // with LineReadEmpty set, when it brought nothing.
  bool ReceiveForLine(int32_t ATimeout);
  // ReadLnWith's first line: FindBufferedLine, after one receive when nothing is buffered. False when
  // the line has to be read the general way, or, with LineReadEmpty set, when the receive brought
  // nothing.
  bool FindLineReceiving(int32_t ATimeout, int32_t AMaxLineLength, int64_t& VLength, int64_t& VTaken);
  // Notes that the unread bytes before AScanStart hold no ATerminator: the general search goes on
  // from there while the terminator stays the same.
  void SearchedInVain(int64_t AScanStart, const std::string& ATerminator);
  // The LF terminator, as a string that lives as long as the program.
  static const std::string& LineFeed();
  // ReadLnSearching(LF) into FSearchedLine, with an LF put on.
  std::string_view SearchLineWithLineFeed(int32_t ATimeout, int32_t AMaxLineLength);
  // FindBufferedLine's line, taken into VLine.
  bool TakeBufferedLine(std::string& VLine, int32_t AMaxLineLength);
  // Copies the first ALength unread bytes into VLine, then consumes ATaken bytes (ALength and what
  // follows the line: its terminator).
  void TakeLine(std::string& VLine, int64_t ALength, int64_t ATaken);

  bool FASCIIFilter = false;
  bool FClosedMark = false;
  bool FOwnsIOHandler = false;
  TIdManagedBuffer FInBuffer;
  TIdConnectionIntercept* FIntercept = nullptr;
  TIdIOHandler* FIOHandler = nullptr;
  // Guards FIOHandler against Abort: it changes only holding this lock.
  std::mutex FHandlerLock;
  TIdRFCReply FLastReply;
  TIdMaxLineAction FMaxLineAction = maException;
  int32_t FMaxLineLength = IdMaxLineLengthDefault;
  bool FLineReadEmpty = false;
  int32_t FReadTimeout = 0;
  int32_t FRecvBufferSize = IdRecvBufferSizeDefault;
  TIdSimpleBuffer FReceiveChunk;
  int32_t FSendBufferSize = IdSendBufferSizeDefault;
  // Line search state: the unread bytes before FScanStart hold no start of FScanTerminator. Reset
  // whenever input is consumed.
  std::string FScanTerminator;
  int64_t FScanStart = 0;
  // ReadLnWith's line when it had to be searched for (and received): kept, so that its memory serves
  // the next one.
  std::string FSearchedLine;
};

}  // namespace qor
