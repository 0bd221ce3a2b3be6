// The write path of TIdTCPConnection.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>

#include "qorclnt/connection/IdAntiFreezeBase.hpp"
#include "qorclnt/connection/IdTCPConnection.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/FileStream.hpp"
#include "qorclnt/runtime/Format.hpp"
#include "qorclnt/runtime/SendWhole.hpp"
#include "qorclnt/socket/IdStack.hpp"

namespace qor {

namespace {

// The most bytes one send step can be given: its count is 32 bits.
constexpr int64_t MaxWriteBlock = INT32_MAX;

// Calls ASend(offset, count) for the consecutive blocks of ASize bytes, each of them countable in
// 32 bits, so that data of any size is sent whole.
template <class TSend>
void InBlocks(int64_t ASize, TSend ASend) {
  for (int64_t offset = 0; offset < ASize; offset += MaxWriteBlock) {
    ASend(offset, static_cast<int32_t>(std::min(ASize - offset, MaxWriteBlock)));
  }
}

}  // namespace

void TIdTCPConnection::Write(const std::string& AOut) {
  InBlocks(static_cast<int64_t>(AOut.size()),
           [this, &AOut](int64_t AOffset, int32_t ACount) { WriteBytes(AOut.data() + AOffset, ACount); });
}

void TIdTCPConnection::WriteLn(const std::string& AOut) {
  Write(AOut + "\r\n");
}

void TIdTCPConnection::WriteBytes(const void* AData, int32_t ACount) {
  if (ACount <= 0 || AData == nullptr) return;
  CheckClosed(true, true);
  if (!Connected()) Raise(EIdNotConnected(RSNotConnected));
  if (FIntercept == nullptr) {
    SendAll(static_cast<const char*>(AData), ACount);
    return;
  }
  // The intercept may rewrite the block, so it gets a copy.
  TIdSimpleBuffer block;
  block.Write(AData, ACount);
  block.SetPosition(0);
  FIntercept->Send(&block);
  // A block the intercept swallowed is simply not sent; it is no close by the peer.
  InBlocks(block.Size(),
           [this, &block](int64_t AOffset, int32_t ACount) { SendAll(block.Memory() + AOffset, ACount); });
}

void TIdTCPConnection::SendAll(const char* AData, int32_t ACount) {
  SendWhole(static_cast<size_t>(ACount), [this, AData](size_t ADone, size_t ALeft) {
    if (FIOHandler == nullptr) Raise(EIdNotConnected(RSNotConnected));
    const TIdIOResult result = FIOHandler->Send(AData + ADone, static_cast<int32_t>(ALeft));
    TIdAntiFreezeBase::IdleTurn(false, false);
    // Zero bytes sent means the peer has gone; the check completes the close.
    FClosedMark = result.Count == 0;
    CheckClosed(true, false);
    if (result.Failed()) TransferFailed(result.Error, true);
    ReportWork(wmWrite, result.Count);
    return static_cast<size_t>(result.Count);
  });
}

void TIdTCPConnection::TransferFailed(int32_t AError, bool ARaise) {
  // A connection that was shut down, aborted or reset can never deliver again: the socket is closed,
  // so that the next exchange connects anew instead of using a dead one.
  if (CurrentStack->CheckSocketError(AError, {ESHUTDOWN, ECONNABORTED, ECONNRESET})) {
    DropSocket();
    if (ARaise) CurrentStack->RaiseErrorCode(AError);
  }
}

void TIdTCPConnection::WriteInt32(int32_t AValue, bool AToNetworkOrder) {
  uint32_t value = static_cast<uint32_t>(AValue);
  if (AToNetworkOrder) value = CurrentStack->HostToNetLong(value);
  WriteBytes(&value, sizeof(value));
}

void TIdTCPConnection::WriteFromStream(TStream* AStream, bool AFromStart, bool ASendByteCount,
                                       int32_t ACount) {
  if (AFromStart) AStream->SetPosition(0);
  const int64_t end = ACount == 0 ? AStream->Size() : AStream->Position() + ACount;
  const int64_t total = end - AStream->Position();
  // The count prefix and the work span count in 32 bits: a longer stream is refused before a byte
  // goes out, rather than announced with a wrong count.
  if (total > INT32_MAX) Raise(EIdStreamTooLarge(RSStreamTooLarge));
  if (ASendByteCount) WriteInt32(static_cast<int32_t>(total), true);
  BeginWorkSpan(wmWrite, static_cast<int32_t>(total));
  try {
    const int32_t chunkSize = std::max(FSendBufferSize, 1);
    const auto chunk = std::make_unique<char[]>(static_cast<size_t>(chunkSize));
    for (;;) {
      const int64_t wanted = std::min<int64_t>(end - AStream->Position(), chunkSize);
      if (wanted <= 0) break;
      const int64_t got = AStream->Read(chunk.get(), wanted);
      if (got == 0) Raise(EIdNoDataToRead(RSNoDataToRead));
      WriteBytes(chunk.get(), static_cast<int32_t>(got));
    }
  } catch (...) {
    EndWorkSpan(wmWrite);
    throw;
  }
  EndWorkSpan(wmWrite);
}

uint32_t TIdTCPConnection::WriteFileContents(const std::string& AFileName) {
  if (!TFileStream::FileExists(AFileName)) Raise(EIdFileNotFound(Format(RSFileNotFound, {AFileName})));
  TFileStream file(AFileName);
  WriteFromStream(&file, true, false, 0);
  return static_cast<uint32_t>(file.Size());
}

}  // namespace qor
