#include "qorclnt/socket/IdIntercept.hpp"

namespace qor {

TIdConnectionIntercept::TIdConnectionIntercept(TComponent* AOwner) : TIdBaseComponent(AOwner) {}

void TIdConnectionIntercept::SetNestedIntercept(TIdConnectionIntercept* AValue) {
  FNestedIntercept = AValue;
  if (AValue != nullptr) AValue->FreeNotification(this);
}

void TIdConnectionIntercept::ForwardConnect(TComponent* AConnection) {
  if (FNestedIntercept != nullptr) FNestedIntercept->Connect(AConnection);
}

void TIdConnectionIntercept::ForwardDisconnect() {
  if (FNestedIntercept != nullptr) FNestedIntercept->Disconnect();
}

void TIdConnectionIntercept::ForwardReceive(TStream* AStream) {
  if (FNestedIntercept != nullptr) FNestedIntercept->Receive(AStream);
}

void TIdConnectionIntercept::ForwardSend(TStream* AStream) {
  if (FNestedIntercept != nullptr) FNestedIntercept->Send(AStream);
}

void TIdConnectionIntercept::Connect(TComponent* AConnection) {
  FConnection = AConnection;
  // Told when the connection goes, so that the reference never dangles.
  if (AConnection != nullptr) AConnection->FreeNotification(this);
  if (OnConnect) OnConnect(this);
  ForwardConnect(AConnection);
}

void TIdConnectionIntercept::Disconnect() {
  ForwardDisconnect();
  if (OnDisconnect) OnDisconnect(this);
  FConnection = nullptr;
}

void TIdConnectionIntercept::Receive(TStream* AStream) {
  ForwardReceive(AStream);
  if (OnReceive) {
    OnReceive(this, AStream);
    AStream->SetPosition(0);
  }
}

void TIdConnectionIntercept::Send(TStream* AStream) {
  if (OnSend) {
    OnSend(this, AStream);
    AStream->SetPosition(0);
  }
  ForwardSend(AStream);
}

void TIdConnectionIntercept::Notification(TComponent* AComponent, TOperation AOperation) {
  TIdBaseComponent::Notification(AComponent, AOperation);
  if (AOperation != opRemove) return;
  if (AComponent == FNestedIntercept) FNestedIntercept = nullptr;
  if (AComponent == FConnection) FConnection = nullptr;
}

}  // namespace qor
