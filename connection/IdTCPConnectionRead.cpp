// The read path of TIdTCPConnection: receiving into the input buffer and reading lines.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "qorclnt/connection/IdAntiFreezeBase.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/connection/IdTCPConnection.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/RuntimeErrors.hpp"
#include "qorclnt/runtime/Strings.hpp"

namespace qor {

namespace {

// The end of a wait that ran out: "Read Timeout" when ARaise is set, else -1.
int32_t TimedOut(bool ARaise) {
  if (ARaise) Raise(EIdReadTimeout(RSReadTimeout));
  return -1;
}

}  // namespace

int32_t TIdTCPConnection::FillInputBuffer(bool ARaiseIfClosed, int32_t ATimeout, bool ARaiseOnTimeout) {
  const TIdWait wait = TIdWait::ForRead(ATimeout, FReadTimeout);
  CheckClosed(ARaiseIfClosed, false);
  if (!Connected()) {
    if (ARaiseIfClosed) Raise(EIdNotConnected(RSNotConnected));
    return 0;
  }
  int32_t n;
  do {
    char* target = nullptr;
    const TIdIOResult result = ReceiveOnce(wait, target);
    if (result.TimedOut) return TimedOut(ARaiseOnTimeout);
    if (target == nullptr && ARaiseIfClosed) Raise(EIdNotConnected(RSNotConnected));  // handler gone
    n = result.Count;
    FClosedMark = n == 0;
    if (result.Failed()) {
      TransferFailed(result.Error, FInBuffer.Size() == 0);
      n = 0;
    }
    if (n > 0) n = StoreReceived(target, n);
    CheckClosed(ARaiseIfClosed, false);
  } while (n == 0 && Connected());
  return n;
}

TIdIOResult TIdTCPConnection::ReceiveOnce(TIdWait AWait, char*& VTarget) {
  // With idle processing the wait comes first, in slices with idle turns, and a turn may detach the
  // handler; otherwise the receive waits by itself.
  const bool idle = TIdAntiFreezeBase::ShouldProcessIdle();
  if (idle && !FIOHandler->WaitReadable(AWait.Ms())) return TIdIOResult::Expired();
  if (FIOHandler == nullptr) return TIdIOResult::Moved(0);
  // A receive of zero bytes would read as a close, so at least one byte is asked for.
  const int32_t length = std::max(FRecvBufferSize, 1);
  // Straight into the input buffer's room, unless an intercept sees the bytes first.
  if (FIntercept == nullptr) {
    VTarget = FInBuffer.Room(length);
  } else {
    FReceiveChunk.SetSize(length);
    VTarget = FReceiveChunk.Memory();
  }
  return FIOHandler->Receive(VTarget, length, (idle ? TIdWait::Unlimited() : AWait).Ms());
}

int32_t TIdTCPConnection::StoreReceived(char* AData, int32_t ACount) {
  const bool inPlace = AData != FReceiveChunk.Memory();
  if (FIntercept != nullptr) {
    FReceiveChunk.SetSize(ACount);
    FReceiveChunk.SetPosition(0);
    FIntercept->Receive(&FReceiveChunk);
    ACount = static_cast<int32_t>(FReceiveChunk.Size());
    AData = FReceiveChunk.Memory();
  }
  if (FASCIIFilter) {
    std::for_each(AData, AData + ACount, [](char& c) { c = static_cast<char>(c & 0x7F); });
  }
  if (inPlace) {
    FInBuffer.Extend(ACount);
  } else {
    FInBuffer.Append(AData, ACount);
  }
  return ACount;
}

void TIdTCPConnection::PollForClose(bool ARaiseIfClosed) {
  FillInputBuffer(ARaiseIfClosed, 1, false);
}

namespace {

const std::string LF("\n");

// Consumes the first ACount bytes of ABuffer; counts past 32 bits are consumed in pieces that the
// buffer's counts can describe.
void DiscardBytes(TIdManagedBuffer& ABuffer, int64_t ACount) {
  do {
    const int32_t piece = static_cast<int32_t>(std::min<int64_t>(ACount, INT32_MAX));
    ABuffer.Discard(piece);
    ACount -= piece;
  } while (ACount > 0);
}

// The first match of ATerminator in the ACount bytes at AFrom, counted from 1; 0 for none. The usual
// LF takes one memchr, without the general search's set-up for every line.
int64_t FindIn(const std::string& ATerminator, const char* AFrom, int32_t ACount) {
  if (ATerminator.size() != 1) return FindInMemory(ATerminator, AFrom, ACount);
  const void* const hit = std::memchr(AFrom, ATerminator[0], static_cast<size_t>(ACount));
  return hit == nullptr ? 0 : static_cast<const char*>(hit) - AFrom + 1;
}

// Byte-wise equality, inline: terminators are a byte or two, and this runs once a line.
bool SameBytes(const std::string& A, const std::string& B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    if (A[i] != B[i]) return false;
  }
  return true;
}

}  // namespace

int64_t TIdTCPConnection::FindTerminator(const std::string& ATerminator) {
  const int64_t size = FInBuffer.Size();
  // Only a search without a match moves FScanStart on, and it keeps its terminator; every consumption
  // starts afresh (FScanStart 0), so the common line, found at once, neither compares nor keeps one.
  if (FScanStart != 0 && (FScanStart > size || !SameBytes(ATerminator, FScanTerminator))) FScanStart = 0;
  const auto length = static_cast<int64_t>(ATerminator.size());
  // The search takes at most a 32-bit count of bytes at a time; each window ends where a terminator
  // that starts in it could still be completed, and the next one starts there.
  while (size - FScanStart >= length) {
    const int32_t window = static_cast<int32_t>(std::min<int64_t>(size - FScanStart, INT32_MAX));
    const int64_t found = FindIn(ATerminator, FInBuffer.UnreadStart() + FScanStart, window);
    if (found != 0) return FScanStart + found;
    // A terminator whose first bytes are at the end may still be completed by the next receive.
    SearchedInVain(FScanStart + window - length + 1, ATerminator);
  }
  return 0;
}

std::string TIdTCPConnection::ReadLn(const std::string& ATerminator, int32_t ATimeout,
                                     int32_t AMaxLineLength) {
  std::string line;
  ReadLn(line, ATerminator, ATimeout, AMaxLineLength);
  return line;
}

void TIdTCPConnection::ReadLnSearching(std::string& VLine, const std::string& ATerminator, int32_t ATimeout,
                                       int32_t AMaxLineLength) {
  if (AMaxLineLength == -1) AMaxLineLength = FMaxLineLength;
  FLineReadEmpty = false;
  const std::string& terminator = ATerminator.empty() ? LF : ATerminator;
  int64_t termPos;
  for (;;) {
    termPos = FindTerminator(terminator);
    // Too long: a terminated line over the maximum, or more than the maximum without a terminator.
    // Refusing before the next receive keeps the buffer bounded by the maximum plus one receive.
    const int64_t lineLength = termPos > 0 ? termPos - 1 : FInBuffer.Size();
    if (AMaxLineLength != 0 && lineLength > AMaxLineLength) {
      if (FMaxLineAction == maException) Raise(EIdReadLnMaxLineLengthExceeded(RSReadLnMaxLineLengthExceeded));
      TakeLine(VLine, AMaxLineLength, AMaxLineLength);
      return;
    }
    if (termPos > 0) break;
    if (!ReceiveForLine(ATimeout)) {
      VLine.clear();
      return;
    }
  }
  int64_t length = termPos - 1;
  const int64_t taken = length + static_cast<int64_t>(terminator.size());
  if (length > 0 && SameBytes(terminator, LF) && FInBuffer.UnreadStart()[length - 1] == '\r') --length;
  TakeLine(VLine, length, taken);
}

const std::string& TIdTCPConnection::LineFeed() {
  return LF;
}

void TIdTCPConnection::SearchedInVain(int64_t AScanStart, const std::string& ATerminator) {
  FScanStart = AScanStart;
  if (!SameBytes(ATerminator, FScanTerminator)) FScanTerminator = ATerminator;
}

bool TIdTCPConnection::TakeBufferedLine(std::string& VLine, int32_t AMaxLineLength) {
  int64_t length = 0;
  int64_t taken = 0;
  if (!FindBufferedLine(AMaxLineLength, length, taken)) return false;
  FLineReadEmpty = false;
  TakeLine(VLine, length, taken);
  return true;
}

bool TIdTCPConnection::ReceiveForLine(int32_t ATimeout) {
  CheckClosed(true, true);
  const int32_t received = FillInputBuffer(true, ATimeout, ATimeout == IdTimeoutDefault);
  if (received != 0 && received != -1) return true;
  FLineReadEmpty = true;
  return false;
}

bool TIdTCPConnection::FindLineReceiving(int32_t ATimeout, int32_t AMaxLineLength, int64_t& VLength,
                                         int64_t& VTaken) {
  FLineReadEmpty = false;
  if (FindBufferedLine(AMaxLineLength, VLength, VTaken)) return true;
  // With nothing buffered the general way would receive at once: so does this, and then looks for
  // the line the short way again.
  return FInBuffer.Size() == 0 && ReceiveForLine(ATimeout) &&
         FindBufferedLine(AMaxLineLength, VLength, VTaken);
}

std::string_view TIdTCPConnection::SearchLineWithLineFeed(int32_t ATimeout, int32_t AMaxLineLength) {
  ReadLnSearching(FSearchedLine, LF, ATimeout, AMaxLineLength);
  FSearchedLine.push_back('\n');
  return FSearchedLine;
}

void TIdTCPConnection::TakeLine(std::string& VLine, int64_t ALength, int64_t ATaken) {
  // Copied straight from the buffer into the caller's string, and only the bytes that are kept.
  // (clear and append: the buffer and the string never overlap, so assign's checks are not needed.)
  if (static_cast<uint64_t>(ALength) > VLine.max_size()) RaiseOutOfMemory();
  VLine.clear();
  VLine.append(FInBuffer.UnreadStart(), static_cast<size_t>(ALength));
  DiscardBytes(FInBuffer, ATaken);
}

std::string TIdTCPConnection::ReadLnNonBlank(int32_t AMaxAttempts) {
  std::string result;
  for (int32_t attempt = 0; attempt < AMaxAttempts && result.empty(); ++attempt) result = Trim(ReadLn());
  return result;
}

std::string TIdTCPConnection::ReadAvailable() {
  if (Connected()) FillInputBuffer(false, IdTimeoutDefault, true);
  std::string result;
  TakeLine(result, FInBuffer.Size(), FInBuffer.Size());
  return result;
}

std::string TIdTCPConnection::ReadAll() {
  BeginWorkSpan(wmRead, 0);
  std::string result;
  try {
    while (Connected()) result += ReadAvailable();
  } catch (...) {
    EndWorkSpan(wmRead);
    throw;
  }
  EndWorkSpan(wmRead);
  return result;
}

}  // namespace qor
