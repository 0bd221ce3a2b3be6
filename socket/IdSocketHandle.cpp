#include "qorclnt/socket/IdSocketHandle.hpp"

#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>

#include "qorclnt/connection/IdAntiFreezeBase.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/Format.hpp"

namespace qor {

namespace {

// The receive time-out of a descriptor after somebody else set one.
constexpr int32_t UnknownReceiveTimeout = -1;

}  // namespace

TIdSocketHandle::TIdSocketHandle() = default;

TIdSocketHandle::~TIdSocketHandle() {
  CloseDescriptor();
}

void TIdSocketHandle::Allocate(int32_t ASocketType, int32_t AProtocol, uint16_t AFamily) {
  CloseDescriptor();
  const TIdStackSocketHandle descriptor = CurrentStack->CreateSocket(AFamily, ASocketType, AProtocol);
  const std::lock_guard lock(FLock);
  FDescriptor = descriptor;
  FFamily = AFamily;
  FAllocated = true;
  FReceiveTimeout = 0;
}

void TIdSocketHandle::CloseDescriptor() {
  const std::lock_guard lock(FLock);
  if (!FAllocated) return;
  FAllocated = false;
  FReceiveTimeout = 0;
  CurrentStack->ShutdownSocket(FDescriptor, SHUT_RDWR);
  CurrentStack->CloseSocketDescriptor(FDescriptor);
}

void TIdSocketHandle::Abort() noexcept {
  const std::lock_guard lock(FLock);
  if (!FAllocated) return;
  const timeval shortest{0, 1};
  CurrentStack->SetSocketOption(FDescriptor, SOL_SOCKET, SO_SNDTIMEO, &shortest, sizeof shortest);
  CurrentStack->ShutdownSocket(FDescriptor, SHUT_RDWR);
}

void TIdSocketHandle::Bind() {
  if (FPort == 0 && FClientPortMin != 0 && FClientPortMax != 0) {
    if (FClientPortMin > FClientPortMax) {
      Raise(EIdInvalidPortRange(Format(RSInvalidPortRange, {FClientPortMin, FClientPortMax})));
    }
    if (!BindInPortRange()) {
      Raise(EIdCanNotBindPortInRange(Format(RSCanNotBindRange, {FClientPortMin, FClientPortMax})));
    }
  } else if (!TryBind()) {
    Raise(EIdCouldNotBindSocket(RSCouldNotBindSocket));
  }
}

bool TIdSocketHandle::TryBind() {
  if (CurrentStack->CheckSocketResult(CurrentStack->BindSocket(FDescriptor, FFamily, FIP, FPort),
                                      {EADDRINUSE})) {
    return false;
  }
  ReadBackLocal();
  return true;
}

bool TIdSocketHandle::BindInPortRange() {
  // Highest port first; a wide counter, so that a range ending at the lowest integer still ends.
  for (int64_t port = FClientPortMax; port >= FClientPortMin; --port) {
    FPort = static_cast<int32_t>(port);
    if (TryBind()) return true;
  }
  return false;
}

void TIdSocketHandle::SetRemote(const std::string& AIP, int32_t APort) {
  FRemoteIP = AIP;
  FRemotePort = APort;
}

int32_t TIdSocketHandle::ConnectToPeer(uint16_t AFamily) {
  const int32_t result = CurrentStack->ConnectSocket(FDescriptor, AFamily, FRemoteIP, FRemotePort);
  if (result != -1) {
    ReadBackLocal();
    ReadBackRemote();
  }
  return result;
}

int32_t TIdSocketHandle::ReceiveFrom(void* ABuffer, int32_t ALength, int32_t AFlags, std::string& VIP,
                                     int32_t& VPort) {
  if (!ClearReceiveTimeout()) return -1;
  return CurrentStack->ReceiveDataFrom(FDescriptor, ABuffer, ALength, AFlags, VIP, VPort);
}

void TIdSocketHandle::ReadBackLocal() {
  uint16_t family = 0;
  CurrentStack->GetSocketAddress(FDescriptor, family, FIP, FPort);
}

void TIdSocketHandle::ReadBackRemote() {
  uint16_t family = 0;
  CurrentStack->GetPeerAddress(FDescriptor, family, FRemoteIP, FRemotePort);
}

bool TIdSocketHandle::WaitReadable(int32_t ATimeout) {
  if (!FAllocated) Raise(EIdConnClosedGracefully(RSConnectionClosedGracefully));
  if (TIdAntiFreezeBase::ShouldProcessIdle() && CurrentAntiFreeze->IdleTimeOut > 0) {
    const int32_t slice = CurrentAntiFreeze->IdleTimeOut;
    if (TIdWait::Of(ATimeout).IsUnlimited()) {
      while (!WaitReadableOnce(slice)) {
      }
      return true;
    }
    // The odd remainder first, then whole slices, with an idle turn after each.
    for (int32_t piece = (ATimeout - 1) % slice + 1; ATimeout > slice; piece = slice) {
      if (WaitReadableOnce(piece)) return true;
      ATimeout -= piece;
    }
  }
  return WaitReadableOnce(ATimeout);
}

bool TIdSocketHandle::WaitReadableOnce(int32_t ATimeout) {
  FWaitList.assign(1, FDescriptor);
  const bool readable = CurrentStack->WaitForSockets(&FWaitList, nullptr, nullptr, ATimeout) == 1;
  TIdAntiFreezeBase::IdleTurn(!readable, false);
  return readable;
}

TIdIOResult TIdSocketHandle::Receive(void* ABuffer, int32_t ALength, int32_t ATimeout) {
  if (!FAllocated) Raise(EIdConnClosedGracefully(RSConnectionClosedGracefully));
  const TIdWait wait = TIdWait::Of(ATimeout);
  if (!wait.IsAllowed()) return TIdIOResult::Expired();
  const TIdDeadline deadline(wait);
  int32_t flags = MSG_DONTWAIT;
  if (wait.Ms() != 0) {  // not a poll: the system's receive time-out, where 0 is none
    if (!SetReceiveTimeout(wait.IsUnlimited() ? 0 : wait.Ms())) {
      return TIdIOResult::Failure(CurrentStack->LastSystemError());
    }
    flags = 0;
  }
  for (;;) {
    const int32_t n = CurrentStack->ReceiveData(FDescriptor, ABuffer, ALength, flags);
    if (n != -1) return TIdIOResult::Moved(n);
    const int32_t error = CurrentStack->LastSystemError();
    // (EWOULDBLOCK is EAGAIN on this system.) Any other failure goes to the caller.
    if (error != EAGAIN && error != EINTR) return TIdIOResult::Failure(error);
    // The receive ended with nothing: a signal interrupted it (with a receive time-out the system
    // never restarts it), or the time-out ran out, which the system's timer tick may end a little
    // early. The rest of the time is waited out with a poll, which resumes after signals; then
    // whatever is there is taken without blocking.
    const int32_t left = deadline.Left().Ms();  // IdTimeoutInfinite without a limit
    if (left == 0) return TIdIOResult::Expired();
    FWaitList.assign(1, FDescriptor);
    if (CurrentStack->WaitForSockets(&FWaitList, nullptr, nullptr, left) != 1) return TIdIOResult::Expired();
    flags = MSG_DONTWAIT;
  }
}

int32_t TIdSocketHandle::ReceiveBuffer(void* ABuffer, int32_t ALength, int32_t AFlags) {
  if (!ClearReceiveTimeout()) return -1;
  return CurrentStack->ReceiveData(FDescriptor, ABuffer, ALength, AFlags);
}

bool TIdSocketHandle::SetReceiveTimeout(int32_t AMs) {
  if (AMs == FReceiveTimeout) return true;
  const timeval limit{static_cast<time_t>(AMs / 1000), static_cast<suseconds_t>(AMs % 1000 * 1000)};
  if (CurrentStack->SetSocketOption(FDescriptor, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) {
    return false;
  }
  FReceiveTimeout = AMs;
  return true;
}

bool TIdSocketHandle::ClearReceiveTimeout() {
  return FReceiveTimeout <= 0 || SetReceiveTimeout(0);
}

int32_t TIdSocketHandle::SendBuffer(const void* ABuffer, int32_t ALength, int32_t AFlags) {
  return CurrentStack->SendData(FDescriptor, ABuffer, ALength, AFlags);
}

TIdIOResult TIdSocketHandle::Send(const void* ABuffer, int32_t ALength) {
  for (;;) {
    const int32_t n = CurrentStack->SendData(FDescriptor, ABuffer, ALength, 0);
    if (n != -1) return TIdIOResult::Moved(n);
    const int32_t error = CurrentStack->LastSystemError();
    // A signal that came before any byte went out: the send is simply made again.
    if (error != EINTR) return TIdIOResult::Failure(error);
  }
}

void TIdSocketHandle::SetOption(int32_t ALevel, int32_t AOption, const void* AValue, int32_t ALength) {
  if (ALevel == SOL_SOCKET && AOption == SO_RCVTIMEO) FReceiveTimeout = UnknownReceiveTimeout;
  CurrentStack->CheckSocketResult(
      CurrentStack->SetSocketOption(FDescriptor, ALevel, AOption, AValue, ALength));
}

void TIdSocketHandle::ResetHandle(bool AResetLocal) {
  {
    const std::lock_guard lock(FLock);
    FAllocated = false;
    FDescriptor = -1;
  }
  FReceiveTimeout = 0;
  if (AResetLocal) {
    FIP.clear();
    FPort = 0;
  }
  FRemoteIP.clear();
  FRemotePort = 0;
}

void TIdSocketHandle::Assign(const TIdSocketHandle& ASource) {
  FIP = ASource.FIP;
  FPort = ASource.FPort;
  FRemoteIP = ASource.FRemoteIP;
  FRemotePort = ASource.FRemotePort;
}

}  // namespace qor
