// The read path of TIdTCPConnection: receiving into the input buffer and reading lines.

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/connection/IdTCPConnection.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/Strings.hpp"
#include "qorclnt/socket/IdStack.hpp"

namespace qor {

int32_t TIdTCPConnection::FillInputBuffer(bool ARaiseIfClosed, int32_t ATimeout, bool ARaiseOnTimeout) {
  if (ATimeout == IdTimeoutDefault) ATimeout = FReadTimeout == 0 ? IdTimeoutInfinite : FReadTimeout;
  CheckClosed(ARaiseIfClosed, false);
  if (!Connected()) {
    if (ARaiseIfClosed) Raise(EIdNotConnected(RSNotConnected));
    return 0;
  }
  int32_t n;
  do {
    n = 0;
    char* target = nullptr;
    if (!FIOHandler->WaitReadable(ATimeout)) {
      if (ARaiseOnTimeout) Raise(EIdReadTimeout(RSReadTimeout));
      return -1;
    }
    if (FIOHandler != nullptr) {
      // A receive of zero bytes would read as a close, so at least one byte is asked for.
      const int32_t length = std::max(FRecvBufferSize, 1);
      // Straight into the input buffer when it has the room and no intercept sees the bytes first.
      if (FIntercept == nullptr) target = FInBuffer.Room(length);
      if (target == nullptr) {
        FReceiveChunk.SetSize(length);
        target = FReceiveChunk.Memory();
      }
      n = FIOHandler->ReceiveBuffer(target, length);
    } else if (ARaiseIfClosed) {
      Raise(EIdNotConnected(RSNotConnected));
    }
    FClosedMark = n == 0;
    // A connection that was shut down, aborted or reset can never deliver again: like the send side,
    // close the socket, so that the next exchange connects anew instead of writing into a dead one.
    if (n != 0 && CurrentStack->CheckSocketResult(n, {ESHUTDOWN, ECONNABORTED, ECONNRESET})) {
      const int32_t code = CurrentStack->LastErrorCode();
      n = 0;
      DropSocket();
      if (FInBuffer.Size() == 0) CurrentStack->RaiseErrorCode(code);
    }
    if (n > 0) n = StoreReceived(target, n);
    CheckClosed(ARaiseIfClosed, false);
  } while (n == 0 && Connected());
  return n;
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
  if (!SameBytes(ATerminator, FScanTerminator) || FScanStart > size) {
    FScanTerminator = ATerminator;
    FScanStart = 0;
  }
  const auto length = static_cast<int64_t>(ATerminator.size());
  if (size - FScanStart < length) return 0;
  const char* const from = FInBuffer.UnreadStart() + FScanStart;
  int64_t found;
  if (length == 1) {
    // The usual LF: one memchr, without the general search's set-up for every line.
    const void* const hit = std::memchr(from, ATerminator[0], static_cast<size_t>(size - FScanStart));
    found = hit == nullptr ? 0 : static_cast<const char*>(hit) - from + 1;
  } else {
    found = FindInMemory(ATerminator, from, static_cast<int32_t>(size - FScanStart));
  }
  if (found == 0) {
    // A terminator whose first bytes are at the end may still be completed by the next receive.
    FScanStart = size - length + 1;
    return 0;
  }
  FScanStart += found - 1;
  return FScanStart + 1;
}

std::string TIdTCPConnection::ReadLn(const std::string& ATerminator, int32_t ATimeout,
                                     int32_t AMaxLineLength) {
  std::string line;
  ReadLn(line, ATerminator, ATimeout, AMaxLineLength);
  return line;
}

void TIdTCPConnection::ReadLn(std::string& VLine, const std::string& ATerminator, int32_t ATimeout,
                              int32_t AMaxLineLength) {
  if (AMaxLineLength == -1) AMaxLineLength = FMaxLineLength;
  const std::string& terminator = ATerminator.empty() ? LF : ATerminator;
  FLineReadEmpty = false;
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
    CheckClosed(true, true);
    const int32_t received = FillInputBuffer(true, ATimeout, ATimeout == IdTimeoutDefault);
    if (received == 0 || received == -1) {
      FLineReadEmpty = true;
      VLine.clear();
      return;
    }
  }
  int64_t length = termPos - 1;
  const int64_t taken = length + static_cast<int64_t>(terminator.size());
  if (length > 0 && SameBytes(terminator, LF) && FInBuffer.UnreadStart()[length - 1] == '\r') --length;
  TakeLine(VLine, length, taken);
}

void TIdTCPConnection::TakeLine(std::string& VLine, int64_t ALength, int64_t ATaken) {
  // Copied straight from the buffer into the caller's string, and only the bytes that are kept.
  // (clear and append: the buffer and the string never overlap, so assign's checks are not needed.)
  VLine.clear();
  VLine.append(FInBuffer.UnreadStart(), static_cast<size_t>(ALength));
  FInBuffer.Discard(static_cast<int32_t>(ATaken));
}

std::string TIdTCPConnection::ReadLnNonBlank(int32_t AMaxAttempts) {
  std::string result;
  for (int32_t attempt = 0; attempt < AMaxAttempts && result.empty(); ++attempt) result = Trim(ReadLn());
  return result;
}

std::string TIdTCPConnection::ReadAvailable() {
  if (Connected()) FillInputBuffer(false, IdTimeoutDefault, true);
  return FInBuffer.TakeString(static_cast<int32_t>(FInBuffer.Size()));
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
