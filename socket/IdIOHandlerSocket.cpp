#include "qorclnt/socket/IdIOHandlerSocket.hpp"

#include <sys/socket.h>

#include <chrono>

#include "qorclnt/connection/IdAntiFreezeBase.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/socket/IdSocks.hpp"
#include "qorclnt/socket/IdStackAddress.hpp"

namespace qor {

TIdIOHandlerSocket::TIdIOHandlerSocket(TComponent* AOwner) : TIdIOHandler(AOwner) {}

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
  DropSocksInfoReference();
  FSocksInfo = nullptr;
  FOwnSocksInfo.reset();
  const std::lock_guard lock(AbortLock());
  FSocket.reset();  // closes an open descriptor
}

void TIdIOHandlerSocket::Open() {
  TIdIOHandler::Open();
  if (FSocket) {
    FSocket->ResetHandle(true);
  } else {
    MakeSocket();
  }
}

void TIdIOHandlerSocket::MakeSocket() {
  const std::lock_guard lock(AbortLock());
  FSocket = std::make_unique<TIdSocketHandle>();
}

void TIdIOHandlerSocket::AbortTransport() {
  if (FSocket) FSocket->Abort();
}

void TIdIOHandlerSocket::Close() {
  TIdIOHandler::Close();
  if (FSocket) FSocket->CloseDescriptor();
}

bool TIdIOHandlerSocket::IsConnected() {
  return FSocket && FSocket->Allocated();
}

TIdIOResult TIdIOHandlerSocket::SocketWaitReadable(int32_t ATimeout) {
  if (!FSocket) Raise(EIdConnClosedGracefully(RSConnectionClosedGracefully));
  return FSocket->WaitReadable(ATimeout) ? TIdIOResult::Moved(1) : TIdIOResult::Expired();
}

TIdIOResult TIdIOHandlerSocket::SocketReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) {
  if (!IsConnected()) Raise(EIdClosedSocket(RSClosedSocket));
  return FSocket->Receive(ABuffer, ALength, ATimeout);
}

TIdIOResult TIdIOHandlerSocket::SocketSend(const void* ABuffer, int32_t ALength) {
  if (!IsConnected()) Raise(EIdClosedSocket(RSClosedSocket));
  return FSocket->Send(ABuffer, ALength);
}

TIdIOResult TIdIOHandlerSocket::RawWaitReadable(int32_t ATimeout) {
  return SocketWaitReadable(ATimeout);
}

TIdIOResult TIdIOHandlerSocket::RawReceive(void* ABuffer, int32_t ALength, int32_t ATimeout) {
  return SocketReceive(ABuffer, ALength, ATimeout);
}

TIdIOResult TIdIOHandlerSocket::RawSend(const void* ABuffer, int32_t ALength) {
  return SocketSend(ABuffer, ALength);
}

void TIdIOHandlerSocket::AfterConnect(int32_t /*ATimeLeft*/) {}

void TIdIOHandlerSocket::ConnectTo(const std::string& AHost, int32_t APort, const std::string& ABoundIP,
                                   int32_t ABoundPort, int32_t ABoundPortMin, int32_t ABoundPortMax,
                                   int32_t ATimeout) {
  // Through a proxy, the TCP connect goes to the proxy; the proxy is then asked for AHost:APort.
  const TIdSocksInfo& socks = *SocksInfo();
  const bool viaProxy = socks.Version() != svNoSocks;
  const std::string host = viaProxy ? socks.Host() : AHost;
  const int32_t port = viaProxy ? socks.Port() : APort;
  // The time-out bounds the whole connect: the proxy's dialogue and AfterConnect get what is left.
  const std::optional<TIdWait> wait = TIdWait::ForConnect(ATimeout);
  const TIdWait whole = wait.value_or(TIdWait::Unlimited());
  const TIdDeadline deadline(whole);
  // A timed connect of a step or less waits its whole time: what follows it still gets one step.
  const auto rest = [&deadline, whole] {
    return deadline.Left().AtLeast(MinOf(whole.Ms(), ConnectStepMs)).Ms();
  };

  TIdIOHandler::ConnectTo(AHost, APort, ABoundIP, ABoundPort, ABoundPortMin, ABoundPortMax, ATimeout);
  if (!FSocket) MakeSocket();
  const TLocalEnd local{ABoundIP, ABoundPort, ABoundPortMin, ABoundPortMax};
  // The first socket is made before the lookup, of the family that the texts at hand suggest; an
  // address of the other family gets a socket of its own.
  PrepareSocket(FamilyOfText(ABoundIP.empty() ? host : ABoundIP), local);

  if (!CurrentStack->IsDottedQuad(host) && !IsIPv6Text(host)) NotifyStatus(hsResolving, {host});
  ConnectToAddresses(CurrentStack->HostToAddresses(host), port, local, wait);
  try {
    SocksInfo()->NegotiateProxy(AHost, APort, rest());
  } catch (const Exception&) {
    CheckAborted();  // the Abort, not the silence it made of the proxy
    throw;
  }
  AfterConnect(rest());
}

void TIdIOHandlerSocket::PrepareSocket(uint16_t AFamily, const TLocalEnd& ALocal) {
  FSocket->Allocate(SOCK_STREAM, 0, AFamily);
  CheckAborted();  // an Abort before the descriptor existed had nothing to wake
  FSocket->SetIP(ALocal.IP);
  FSocket->SetPort(ALocal.Port);
  FSocket->SetClientPortMin(ALocal.PortMin);
  FSocket->SetClientPortMax(ALocal.PortMax);
  FSocket->Bind();
}

// Waits for the worker in steps, with idle processing after each; a time-out up to one step is one
// pause of the whole time; without a limit it waits as long as the worker runs. With WakeOnConnectEnd
// a step ends as soon as the worker does. An Abort ends the wait at the next step.
void TIdIOHandlerSocket::ConnectWithTimeout(TIdWait AWait) {
  const bool forever = AWait.IsUnlimited();
  TIdConnectThread worker(*FSocket);
  const auto pause = [this, &worker](int32_t AMs) {
    if (FWakeOnConnectEnd) {
      worker.WaitForEnd(AMs);
    } else {
      PauseMs(AMs);
    }
  };
  const int32_t step = TIdAntiFreezeBase::ShouldProcessIdle()
                           ? MaxOf(MinOf(ConnectStepMs, CurrentAntiFreeze->IdleTimeOut), 1)
                           : ConnectStepMs;
  int32_t remaining = forever ? step + 1 : AWait.Ms();
  while (step < remaining) {
    pause(step);
    remaining = forever ? step + 1 : remaining - step;
    TIdAntiFreezeBase::IdleTurn(true, false);
    if (worker.Terminated() || Aborted()) {
      remaining = 0;
      break;
    }
  }
  pause(remaining);

  const bool ended = worker.Terminated();
  worker.Stop();
  if (!ended || Aborted()) {
    // Closed only now that the worker is gone, so its descriptor number cannot reach another socket.
    Close();
    CheckAborted();
    Raise(EIdConnectTimeout(RSConnectTimeout));
  }
  if (!worker.ErrorMessage().empty()) Raise(EIdConnectException(worker.ErrorMessage()));
}

TIdSocksInfo* TIdIOHandlerSocket::SocksInfo() {
  if (FSocksInfo == nullptr) {
    FOwnSocksInfo = std::make_unique<TIdSocksInfo>(nullptr);
    FOwnSocksInfo->SetHandler(this);
    FSocksInfo = FOwnSocksInfo.get();
  }
  return FSocksInfo;
}

void TIdIOHandlerSocket::SetSocksInfo(TIdSocksInfo* AValue) {
  DropSocksInfoReference();
  if (AValue == nullptr) {
    FSocksInfo = nullptr;
    FOwnSocksInfo.reset();
    return;
  }
  if (AValue->Owner() == nullptr) {
    if (FSocksInfo != FOwnSocksInfo.get()) FSocksInfo = nullptr;  // was a reference: use our own object
    SocksInfo()->Assign(*AValue);
  } else {
    FOwnSocksInfo.reset();
    FSocksInfo = AValue;
    AValue->FreeNotification(this);
  }
  FSocksInfo->SetHandler(this);
}

void TIdIOHandlerSocket::DropSocksInfoReference() {
  if (FSocksInfo == nullptr || FSocksInfo == FOwnSocksInfo.get()) return;
  if (FSocksInfo->Handler() == this) FSocksInfo->SetHandler(nullptr);
  FSocksInfo->RemoveFreeNotification(this);
}

void TIdIOHandlerSocket::Notification(TComponent* AComponent, TOperation AOperation) {
  TIdIOHandler::Notification(AComponent, AOperation);
  if (AOperation == opRemove && AComponent == FSocksInfo) FSocksInfo = nullptr;
}

TIdConnectThread::TIdConnectThread(TIdSocketHandle& ASocket)
    : FSocket(ASocket), FThread([this] { Execute(); }) {}

TIdConnectThread::~TIdConnectThread() {
  Stop();
}

void TIdConnectThread::Execute() noexcept {
  try {
    CurrentStack->CheckSocketResult(FSocket.ConnectToPeer(FSocket.Family()));
  } catch (const Exception& error) {
    FErrorMessage = error.Message();
  } catch (const std::exception& error) {
    FErrorMessage = error.what();
  }
  {
    const std::lock_guard lock(FEndLock);
    FTerminated.store(true, std::memory_order_release);
  }
  FEnded.notify_all();
}

void TIdConnectThread::WaitForEnd(int32_t AMs) {
  std::unique_lock lock(FEndLock);
  FEnded.wait_for(lock, std::chrono::milliseconds(AMs), [this] { return Terminated(); });
}

void TIdConnectThread::Stop() noexcept {
  if (!FThread.joinable()) return;
  if (!Terminated()) {
    // Ends a connect in progress, or makes one the worker has not reached yet give up at once.
    FSocket.Abort();
  }
  FThread.join();
}

}  // namespace qor
