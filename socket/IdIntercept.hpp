#pragma once

#include <functional>

#include "qorclnt/connection/IdBaseComponent.hpp"
#include "qorclnt/runtime/MemoryStream.hpp"

namespace qor {

class TIdConnectionIntercept;

using TIdInterceptNotifyEvent = std::function<void(TIdConnectionIntercept* ASender)>;
using TIdInterceptStreamEvent = std::function<void(TIdConnectionIntercept* ASender, TStream* AStream)>;

// Sees every block a connection sends or receives, as a stream positioned at 0 that its listeners may
// read and rewrite (the connection takes the stream's size again afterwards), and is told when the
// connection is made and closed. Intercepts stack: a nested intercept gets every step passed on, so
// that sent bytes pass the outer layer first and received bytes the inner layer first.
class TIdConnectionIntercept : public TIdBaseComponent {
 public:
  explicit TIdConnectionIntercept(TComponent* AOwner);

  // Hand a step on to the nested intercept, when there is one.
  virtual void ForwardConnect(TComponent* AConnection);
  virtual void ForwardDisconnect();
  virtual void ForwardReceive(TStream* AStream);
  virtual void ForwardSend(TStream* AStream);
  // The connection has been made: this layer first, then the nested one.
  virtual void Connect(TComponent* AConnection);
  // The connection is being closed: the nested layer first, then this one.
  virtual void Disconnect();
  // A received block: the nested layer first, then this one.
  virtual void Receive(TStream* AStream);
  // A block to send: this layer first, then the nested one.
  virtual void Send(TStream* AStream);

  // The connection served between Connect and Disconnect, or null; not owned.
  TComponent* Connection() const noexcept { return FConnection; }
  // The inner layer, or null; not owned, and forgotten when it is removed.
  TIdConnectionIntercept* NestedIntercept() const noexcept { return FNestedIntercept; }
  void SetNestedIntercept(TIdConnectionIntercept* AValue);
  bool IsClient() const noexcept { return FIsClient; }
  void SetIsClient(bool AValue) noexcept { FIsClient = AValue; }

  TIdInterceptNotifyEvent OnConnect;
  TIdInterceptNotifyEvent OnDisconnect;
  TIdInterceptStreamEvent OnReceive;
  TIdInterceptStreamEvent OnSend;

 protected:
  void Notification(TComponent* AComponent, TOperation AOperation) override;

 private:
  TComponent* FConnection = nullptr;
  TIdConnectionIntercept* FNestedIntercept = nullptr;
  bool FIsClient = true;
};

}  // namespace qor
