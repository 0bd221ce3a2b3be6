#include "qorclnt/connection/IdTCPConnection.hpp"

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"

namespace qor {

TIdTCPConnection::TIdTCPConnection(TComponent* AOwner)
    : TIdComponent(AOwner),
      FInBuffer([this](TIdSimpleBuffer* ASender, int32_t ACount) { InputConsumed(ASender, ACount); }) {}

TIdTCPConnection::~TIdTCPConnection() {
  // A destructor cannot pass an error on; a failing intercept must not stop the tear-down.
  try {
    DropSocket();
  } catch (...) {
  }
  if (FOwnsIOHandler) FreeOwnedIOHandler();
}

void TIdTCPConnection::Notification(TComponent* AComponent, TOperation AOperation) {
  TIdComponent::Notification(AComponent, AOperation);
  if (AOperation != opRemove) return;
  if (AComponent == FIntercept) FIntercept = nullptr;
  if (AComponent == FIOHandler) {
    AttachHandler(nullptr);
    // Whatever is attached next was not made by this connection.
    FOwnsIOHandler = false;
  }
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* AValue) {
  // Re-assigning the current handler keeps it: freeing it first would leave a dangling reference.
  if (AValue == FIOHandler) return;
  if (FIOHandler != nullptr && FOwnsIOHandler) FreeOwnedIOHandler();
  AttachHandler(AValue);
  if (AValue != nullptr) AValue->FreeNotification(this);
}

void TIdTCPConnection::SetIntercept(TIdConnectionIntercept* AValue) {
  FIntercept = AValue;
  if (AValue != nullptr) AValue->FreeNotification(this);
}

void TIdTCPConnection::FreeOwnedIOHandler() {
  TIdIOHandler* handler = FIOHandler;
  AttachHandler(nullptr);  // before the handler goes, so that no Abort can reach it then
  FOwnsIOHandler = false;
  delete handler;
}

void TIdTCPConnection::AttachHandler(TIdIOHandler* AValue) {
  const std::lock_guard lock(FHandlerLock);
  FIOHandler = AValue;
}

void TIdTCPConnection::Abort() {
  const std::lock_guard lock(FHandlerLock);
  if (FIOHandler != nullptr) FIOHandler->Abort();
}

void TIdTCPConnection::CheckClosed(bool ARaiseIfClosed, bool AIgnoreBuffered) {
  // Nothing to complete and nothing to raise: the common case of Connected(), once a reply line.
  if (!FClosedMark && !ARaiseIfClosed) return;
  bool closed = false;
  if (FClosedMark && FIOHandler != nullptr) {
    if (FIOHandler->IsConnected()) {
      DropSocket();
      NotifyStatus(hsDisconnected);
      FireDisconnected();
    }
    closed = true;
  } else if (FIOHandler != nullptr) {
    closed = !FIOHandler->IsConnected();
  }
  if (closed && ARaiseIfClosed && (AIgnoreBuffered || FInBuffer.Size() == 0)) {
    Raise(EIdConnClosedGracefully(RSConnectionClosedGracefully));
  }
}

void TIdTCPConnection::DropSocket() {
  if (FIOHandler == nullptr) return;
  FClosedMark = true;
  if (FIntercept != nullptr) FIntercept->Disconnect();
  // The intercept's listener may have detached the handler.
  if (FIOHandler != nullptr) FIOHandler->Close();
}

void TIdTCPConnection::Disconnect() {
  NotifyStatus(hsDisconnecting);
  DropSocket();
  if (FOwnsIOHandler) FreeOwnedIOHandler();
  FireDisconnected();
  NotifyStatus(hsDisconnected);
}

void TIdTCPConnection::ResetForConnect() {
  FInBuffer.Clear();
  FScanStart = 0;
  FClosedMark = false;
}

void TIdTCPConnection::StartTLS() {
  if (FIOHandler == nullptr || !FIOHandler->IsConnected()) Raise(EIdNotConnected(RSNotConnected));
  if (FInBuffer.Size() != 0) {
    DropSocket();
    Raise(EIdTLSStartRefused(RSTLSStartPending));
  }
  try {
    FIOHandler->StartTLS();
  } catch (...) {
    // Going on in plaintext after the upgrade was asked for would expose what was meant to be secret.
    DropSocket();
    throw;
  }
}

void TIdTCPConnection::FireDisconnected() {
  if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::InputConsumed(TIdSimpleBuffer* /*ASender*/, int32_t ACount) {
  // The unread bytes now start elsewhere: the line search begins afresh.
  FScanStart = 0;
  ReportWork(wmRead, ACount);
}

}  // namespace qor
