#include "support/FakeIOHandler.hpp"

#include <algorithm>
#include <cstring>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"

namespace qor::test {

TFakeIOHandler::TFakeIOHandler(TComponent* AOwner) : TIdIOHandler(AOwner) {}

TFakeIOHandler::~TFakeIOHandler() {
  Close();
}

TFakeIOHandler& TFakeIOHandler::QueueReceive(std::string ABytes) {
  FReceives.emplace_back(std::move(ABytes));
  return *this;
}

TFakeIOHandler& TFakeIOHandler::QueueClose() {
  FReceives.emplace_back(TClose{});
  return *this;
}

TFakeIOHandler& TFakeIOHandler::QueueReceiveError(int AErrno) {
  FReceives.emplace_back(TError{AErrno});
  return *this;
}

TFakeIOHandler& TFakeIOHandler::QueueSendLimit(int32_t AMaxBytes) {
  FSendResults.push_back({AMaxBytes, 0});
  return *this;
}

TFakeIOHandler& TFakeIOHandler::QueueSendError(int AErrno) {
  FSendResults.push_back({0, AErrno});
  return *this;
}

void TFakeIOHandler::Close() {
  ++FCloseCount;
  FConnected = false;
}

void TFakeIOHandler::ConnectTo(const std::string& AHost, int32_t APort, const std::string& /*ABoundIP*/,
                               int32_t /*ABoundPort*/, int32_t /*ABoundPortMin*/, int32_t /*ABoundPortMax*/,
                               int32_t ATimeout) {
  if (OnConnectTo) OnConnectTo(AHost, APort, ATimeout);
  FConnected = true;
}

void TFakeIOHandler::CheckConnected() const {
  if (!FConnected) Raise(EIdClosedSocket(RSClosedSocket));
}

TIdIOResult TFakeIOHandler::RawWaitReadable(int32_t ATimeout) {
  if (!FConnected) Raise(EIdConnClosedGracefully(RSConnectionClosedGracefully));
  FWaitTimeouts.push_back(ATimeout);
  return FPeerClosed || !FReceives.empty() ? TIdIOResult::Moved(1) : TIdIOResult::Expired();
}

TIdIOResult TFakeIOHandler::RawReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) {
  if (RawWaitReadable(ATimeout).TimedOut) return TIdIOResult::Expired();
  CheckConnected();
  FReceiveLengths.push_back(ALength);
  if (FPeerClosed || FReceives.empty()) return TIdIOResult::Moved(0);
  TReceiveEvent& event = FReceives.front();
  if (std::holds_alternative<TClose>(event)) {
    FPeerClosed = true;
    FReceives.pop_front();
    return TIdIOResult::Moved(0);
  }
  if (const auto* error = std::get_if<TError>(&event)) {
    const int code = error->Errno;
    FReceives.pop_front();
    return TIdIOResult::Failure(code);
  }
  std::string& chunk = std::get<std::string>(event);
  const auto n =
      static_cast<int32_t>(std::min<size_t>(chunk.size(), static_cast<size_t>(std::max(ALength, 0))));
  std::memcpy(ABuffer, chunk.data(), static_cast<size_t>(n));
  chunk.erase(0, static_cast<size_t>(n));
  if (chunk.empty()) FReceives.pop_front();
  return TIdIOResult::Moved(n);
}

TIdIOResult TFakeIOHandler::RawSend(const void* ABuffer, int32_t ALength) {
  CheckConnected();
  int32_t n = ALength;
  if (!FSendResults.empty()) {
    const TSendResult result = FSendResults.front();
    FSendResults.pop_front();
    if (result.Errno != 0) return TIdIOResult::Failure(result.Errno);
    n = std::min(n, result.MaxBytes);
  }
  FSendCalls.emplace_back(static_cast<const char*>(ABuffer), static_cast<size_t>(n));
  FSent += FSendCalls.back();
  return TIdIOResult::Moved(n);
}

}  // namespace qor::test
