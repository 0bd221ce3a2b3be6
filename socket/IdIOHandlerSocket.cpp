#include "qorclnt/socket/IdIOHandlerSocket.hpp"

#include <sys/socket.h>
#include <sys/time.h>

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
  FSocket.reset();  // closes an open descriptor
}

void TIdIOHandlerSocket::Open() {
  TIdIOHandler::Open();
  if (FSocket) {
    FSocket->ResetHandle(true);
  } else {
    FSocket = std::make_unique<TIdSocketHandle>();
  }
}

void TIdIOHandlerSocket::Close() {
  TIdIOHandler::Close();
  if (FSocket) FSocket->CloseDescriptor();
}

bool TIdIOHandlerSocket::IsConnected() {
  return FSocket && FSocket->Allocated();
}

bool TIdIOHandlerSocket::WaitReadable(int32_t ATimeout) {
  if (!FSocket) Raise(EIdConnClosedGracefully(RSConnectionClosedGracefully));
  return FSocket->WaitReadable(ATimeout);
}

int32_t TIdIOHandlerSocket::ReceiveBuffer(void* ABuffer, int32_t ALength) {
  if (!IsConnected()) Raise(EIdClosedSocket(RSClosedSocket));
  return FSocket->ReceiveBuffer(ABuffer, ALength, 0);
}

bool TIdIOHandlerSocket::ReceiveWithin(void* ABuffer, int32_t ALength, int32_t ATimeout, int32_t& VReceived) {
  if (!FSocket) Raise(EIdConnClosedGracefully(RSConnectionClosedGracefully));
  return FSocket->ReceiveWithin(ABuffer, ALength, ATimeout, VReceived);
}

int32_t TIdIOHandlerSocket::SendBuffer(const void* ABuffer, int32_t ALength) {
  if (!IsConnected()) Raise(EIdClosedSocket(RSClosedSocket));
  return FSocket->SendBuffer(ABuffer, ALength, 0);
}

void TIdIOHandlerSocket::ConnectTo(const std::string& AHost, int32_t APort, const std::string& ABoundIP,
                                   int32_t ABoundPort, int32_t ABoundPortMin, int32_t ABoundPortMax,
                                   int32_t ATimeout) {
  // Through a proxy, the TCP connect goes to the proxy; the proxy is then asked for AHost:APort.
  const TIdSocksInfo& socks = *SocksInfo();
  const bool viaProxy = socks.Version() != svNoSocks;
  const std::string host = viaProxy ? socks.Host() : AHost;
  const int32_t port = viaProxy ? socks.Port() : APort;

  TIdIOHandler::ConnectTo(AHost, APort, ABoundIP, ABoundPort, ABoundPortMin, ABoundPortMax, ATimeout);
  if (!FSocket) FSocket = std::make_unique<TIdSocketHandle>();
  const TLocalEnd local{ABoundIP, ABoundPort, ABoundPortMin, ABoundPortMax};
  // The first socket is made before the lookup, of the family that the texts at hand suggest; an
  // address of the other family gets a socket of its own.
  PrepareSocket(FamilyOfText(ABoundIP.empty() ? host : ABoundIP), local);

  if (!CurrentStack->IsDottedQuad(host) && !IsIPv6Text(host)) NotifyStatus(hsResolving, {host});
  ConnectToAddresses(CurrentStack->HostToAddresses(host), port, local, ATimeout);
  SocksInfo()->NegotiateProxy(AHost, APort);
}

void TIdIOHandlerSocket::PrepareSocket(uint16_t AFamily, const TLocalEnd& ALocal) {
  FSocket->Allocate(SOCK_STREAM, 0, AFamily);
  FSocket->SetIP(ALocal.IP);
  FSocket->SetPort(ALocal.Port);
  FSocket->SetClientPortMin(ALocal.PortMin);
  FSocket->SetClientPortMax(ALocal.PortMax);
  FSocket->Bind();
}

// Waits for the worker in steps, with idle processing after each; a time-out up to one step is one
// pause of the whole time. -2 waits as long as the worker runs.
void TIdIOHandlerSocket::ConnectWithTimeout(int32_t ATimeout) {
  const bool forever = ATimeout == IdTimeoutInfinite;
  TIdConnectThread worker(*FSocket);
  const int32_t step = TIdAntiFreezeBase::ShouldProcessIdle()
                           ? MaxOf(MinOf(ConnectStepMs, CurrentAntiFreeze->IdleTimeOut), 1)
                           : ConnectStepMs;
  int32_t remaining = forever ? step + 1 : ATimeout;
  while (step < remaining) {
    PauseMs(step);
    remaining = forever ? step + 1 : remaining - step;
    TIdAntiFreezeBase::IdleTurn(true, false);
    if (worker.Terminated()) {
      remaining = 0;
      break;
    }
  }
  PauseMs(remaining);

  const bool ended = worker.Terminated();
  worker.Stop();
  if (!ended) {
    // Closed only now that the worker is gone, so its descriptor number cannot reach another socket.
    Close();
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
  FTerminated.store(true, std::memory_order_release);
}

void TIdConnectThread::Stop() noexcept {
  if (!FThread.joinable()) return;
  if (!Terminated()) {
    // A shutdown ends a connect in progress. A worker that has not reached its connect yet would
    // start one after the shutdown; the shortest send time-out, which also bounds a blocking
    // connect, makes that one give up at once.
    const timeval shortest{0, 1};
    CurrentStack->SetSocketOption(FSocket.Descriptor(), SOL_SOCKET, SO_SNDTIMEO, &shortest, sizeof shortest);
    CurrentStack->ShutdownSocket(FSocket.Descriptor(), SHUT_RDWR);
  }
  FThread.join();
}

}  // namespace qor
