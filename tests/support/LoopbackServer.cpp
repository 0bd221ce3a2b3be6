#include "support/LoopbackServer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>

#include "support/Posix.hpp"

namespace qor::test {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

ServerScript& ServerScript::Send(std::string ABytes) {
  FSteps.push_back({.Kind = skSend, .Bytes = std::move(ABytes)});
  return *this;
}

ServerScript& ServerScript::SendStream(TChunkSource ASource) {
  FSteps.push_back({.Kind = skSendStream, .Source = std::move(ASource)});
  return *this;
}

ServerScript& ServerScript::WaitFor(std::string AText) {
  FSteps.push_back({.Kind = skWaitFor, .Bytes = std::move(AText)});
  return *this;
}

ServerScript& ServerScript::WaitForCount(size_t ACount) {
  FSteps.push_back({.Kind = skWaitForCount, .Count = ACount});
  return *this;
}

ServerScript& ServerScript::Silence(milliseconds ADuration) {
  FSteps.push_back({.Kind = skSilence, .Duration = ADuration});
  return *this;
}

ServerScript& ServerScript::Close() {
  FSteps.push_back({.Kind = skClose});
  return *this;
}

ServerScript& ServerScript::Reset() {
  FSteps.push_back({.Kind = skReset});
  return *this;
}

namespace {

const ServerScript& RecordOnly() {
  static const ServerScript Script;
  return Script;
}

}  // namespace

// One accepted connection as the server thread sees it.
struct LoopbackServer::TConnection {
  UniqueFd Fd;
  size_t Index = 0;  // into FRecords
  const ServerScript* Script = nullptr;
  size_t Step = 0;
  std::string In;       // everything received, for the waits of the script
  size_t Consumed = 0;  // how much of In earlier waits used up
  std::string Out;      // bytes not yet handed to the system
  size_t Chunk = 0;     // the next chunk of a stream being sent
  bool PeerClosed = false;
  bool Ended = false;  // the socket is to be closed
  std::optional<steady_clock::time_point> SilenceEnd;
};

LoopbackServer::LoopbackServer(std::vector<ServerScript> AScripts, uint16_t APort)
    : FScripts(std::move(AScripts)) {
  FListener.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!FListener.Valid()) ThrowSystemError("socket");
  int one = 1;
  ::setsockopt(FListener.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address = LoopbackAddress(APort);
  if (::bind(FListener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    ThrowSystemError("bind");
  if (::listen(FListener.Get(), SOMAXCONN) != 0) ThrowSystemError("listen");
  socklen_t length = sizeof address;
  if (::getsockname(FListener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ThrowSystemError("getsockname");
  }
  FPort = ntohs(address.sin_port);
  FWake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!FWake.Valid()) ThrowSystemError("eventfd");
  FThread = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
  Stop();
}

void LoopbackServer::Stop() {
  if (!FThread.joinable()) return;
  SignalEventFd(FWake);
  FThread.join();
  FListener.Reset();
}

void LoopbackServer::Run() {
  std::vector<TConnection> connections;
  std::vector<pollfd> fds;
  for (;;) {
    fds.assign({{FWake.Get(), POLLIN, 0}, {FListener.Get(), POLLIN, 0}});
    int timeout = -1;
    const auto now = steady_clock::now();
    for (const TConnection& c : connections) {
      const short events = static_cast<short>((c.PeerClosed ? 0 : POLLIN) | (c.Out.empty() ? 0 : POLLOUT));
      // A socket with nothing to wait for stays out, or a hang-up would wake poll again and again.
      fds.push_back({events != 0 ? c.Fd.Get() : -1, events, 0});
      if (c.SilenceEnd) {
        const auto left = std::chrono::ceil<milliseconds>(*c.SilenceEnd - now).count();
        const int wait = static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
        timeout = timeout < 0 ? wait : std::min(timeout, wait);
      }
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    const size_t polled = connections.size();
    if ((fds[1].revents & POLLIN) != 0) Accept(connections);
    for (size_t i = 0; i < polled; ++i) {
      if ((fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !connections[i].PeerClosed) {
        Receive(connections[i]);
      }
    }
    for (TConnection& c : connections) Advance(c);
    std::erase_if(connections, [](const TConnection& c) { return c.Ended; });
  }
}

void LoopbackServer::Accept(std::vector<TConnection>& AConnections) {
  for (;;) {
    UniqueFd fd(::accept4(FListener.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.Valid()) return;  // nothing more waiting (or the peer gave up before we took it)
    TConnection c;
    c.Fd = std::move(fd);
    {
      std::lock_guard guard(FLock);
      c.Index = FRecords.size();
      FRecords.emplace_back();
    }
    FChanged.notify_all();
    c.Script = FScripts.empty() ? &RecordOnly() : &FScripts[std::min(c.Index, FScripts.size() - 1)];
    AConnections.push_back(std::move(c));
  }
}

// Takes in everything that has arrived, and notes a close or reset by the peer.
void LoopbackServer::Receive(TConnection& AConnection) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::recv(AConnection.Fd.Get(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      NotePeerClosed(AConnection);
      return;
    }
    AConnection.In.append(buffer, static_cast<size_t>(n));
    {
      std::lock_guard guard(FLock);
      FRecords[AConnection.Index].Received.append(buffer, static_cast<size_t>(n));
    }
    FChanged.notify_all();
  }
}

void LoopbackServer::NotePeerClosed(TConnection& AConnection) {
  AConnection.PeerClosed = true;
  {
    std::lock_guard guard(FLock);
    FRecords[AConnection.Index].PeerClosed = true;
  }
  FChanged.notify_all();
}

// Runs the script as far as it can go without waiting.
void LoopbackServer::Advance(TConnection& AConnection) {
  TConnection& c = AConnection;
  const auto& steps = c.Script->Steps();
  for (;;) {
    while (!c.Out.empty()) {
      const ssize_t n = ::send(c.Fd.Get(), c.Out.data(), c.Out.size(), MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (n < 0) {  // the peer is gone
        NotePeerClosed(c);
        c.Ended = true;
        return;
      }
      c.Out.erase(0, static_cast<size_t>(n));
      std::lock_guard guard(FLock);
      FRecords[c.Index].Sent += static_cast<uint64_t>(n);
    }
    if (c.Step == steps.size()) {
      c.Ended = c.PeerClosed;
      return;
    }
    const ServerScript::TStep& step = steps[c.Step];
    switch (step.Kind) {
      case ServerScript::skSend:
        c.Out += step.Bytes;
        break;
      case ServerScript::skSendStream:
        c.Out = step.Source(c.Chunk);
        if (!c.Out.empty()) {
          ++c.Chunk;
          continue;  // this step again once the chunk is sent
        }
        c.Chunk = 0;
        break;
      case ServerScript::skWaitFor: {
        const size_t at = c.In.find(step.Bytes, c.Consumed);
        if (at == std::string::npos) {
          c.Ended = c.PeerClosed;  // it can no longer arrive
          return;
        }
        c.Consumed = at + step.Bytes.size();
        break;
      }
      case ServerScript::skWaitForCount:
        if (c.In.size() - c.Consumed < step.Count) {
          c.Ended = c.PeerClosed;
          return;
        }
        c.Consumed += step.Count;
        break;
      case ServerScript::skSilence: {
        const auto now = steady_clock::now();
        if (!c.SilenceEnd) c.SilenceEnd = now + step.Duration;
        if (now < *c.SilenceEnd) return;
        c.SilenceEnd.reset();
        break;
      }
      case ServerScript::skClose:
        // Unread bytes at close would turn the FIN into an RST.
        if (!c.PeerClosed) Receive(c);
        c.Ended = true;
        return;
      case ServerScript::skReset: {
        const linger abort{1, 0};
        ::setsockopt(c.Fd.Get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        c.Ended = true;
        return;
      }
    }
    ++c.Step;
  }
}

template <class Pred>
bool LoopbackServer::WaitUntil(milliseconds ATimeout, Pred APred) const {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, ATimeout, APred);
}

size_t LoopbackServer::ConnectionCount() const {
  std::lock_guard guard(FLock);
  return FRecords.size();
}

bool LoopbackServer::WaitForConnections(size_t ACount, milliseconds ATimeout) const {
  return WaitUntil(ATimeout, [&] { return FRecords.size() >= ACount; });
}

std::string LoopbackServer::Received(size_t AConnection) const {
  std::lock_guard guard(FLock);
  return AConnection < FRecords.size() ? FRecords[AConnection].Received : std::string();
}

uint64_t LoopbackServer::SentCount(size_t AConnection) const {
  std::lock_guard guard(FLock);
  return AConnection < FRecords.size() ? FRecords[AConnection].Sent : 0;
}

bool LoopbackServer::WaitForReceived(std::string_view AText, milliseconds ATimeout,
                                     size_t AConnection) const {
  return WaitUntil(ATimeout, [&] {
    return AConnection < FRecords.size() && FRecords[AConnection].Received.find(AText) != std::string::npos;
  });
}

bool LoopbackServer::WaitForReceivedCount(size_t ACount, milliseconds ATimeout, size_t AConnection) const {
  return WaitUntil(ATimeout, [&] {
    return AConnection < FRecords.size() && FRecords[AConnection].Received.size() >= ACount;
  });
}

bool LoopbackServer::WaitForPeerClose(milliseconds ATimeout, size_t AConnection) const {
  return WaitUntil(ATimeout,
                   [&] { return AConnection < FRecords.size() && FRecords[AConnection].PeerClosed; });
}

}  // namespace qor::test
