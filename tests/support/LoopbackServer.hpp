#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/UniqueFd.hpp"

namespace qor::test {

// What a loopback server does on one accepted connection, step by step, built by chaining:
//   ServerScript().WaitFor("\r\n").Send("200 OK\r\n\r\n").Close()
// Every byte the connection receives is recorded, during the steps and after the last one, until
// the peer closes. A script that ends without Close or Reset keeps the connection open until the
// peer closes it or the server stops.
class ServerScript {
 public:
  // Sends ABytes (the next step waits until all of them are handed to the system).
  ServerScript& Send(std::string ABytes);
  // Chunk AIndex (0, 1, ...) of a generated stream; an empty chunk ends it.
  using TChunkSource = std::function<std::string(size_t AIndex)>;
  // Sends the chunks of ASource in order, each asked for once the one before is handed to the
  // system, so that a stream of any length holds one chunk in memory.
  ServerScript& SendStream(TChunkSource ASource);
  // Waits until AText has arrived after everything earlier waits consumed, and consumes up to its end.
  // If the peer closes first, the connection ends here.
  ServerScript& WaitFor(std::string AText);
  // Waits until ACount more bytes than earlier waits consumed have arrived, and consumes them.
  ServerScript& WaitForCount(size_t ACount);
  // Sends nothing for ADuration (still records what arrives).
  ServerScript& Silence(std::chrono::milliseconds ADuration);
  // Closes the connection with a FIN: takes in what has arrived, then closes the socket.
  ServerScript& Close();
  // Resets the connection: closes the socket with SO_LINGER 0, so the peer gets an RST.
  ServerScript& Reset();

  enum TStepKind : uint8_t { skSend, skSendStream, skWaitFor, skWaitForCount, skSilence, skClose, skReset };
  struct TStep {
    TStepKind Kind = skSend;
    std::string Bytes{};                    // skSend, skWaitFor
    TChunkSource Source{};                  // skSendStream
    size_t Count = 0;                       // skWaitForCount
    std::chrono::milliseconds Duration{0};  // skSilence
  };
  const std::vector<TStep>& Steps() const noexcept { return FSteps; }

 private:
  std::vector<TStep> FSteps;
};

// A TCP server on 127.0.0.1 for tests. It listens on the given port (0 picks a free one) and serves
// every connection on one thread of its own, running a script on each. Connection n (0 = the first
// accepted) runs AScripts[n]; later ones run the last script; with no script a connection only
// records what it receives. The Wait... calls block (no polling) until their condition holds or the
// time-out passes, and tell which. Stopping (or destroying) the server closes every socket and joins
// the thread. Errors while setting up throw std::system_error.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::vector<ServerScript> AScripts = {}, uint16_t APort = 0);
  explicit LoopbackServer(ServerScript AScript, uint16_t APort = 0)
      : LoopbackServer(std::vector<ServerScript>{std::move(AScript)}, APort) {}
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  static constexpr const char* Host = "127.0.0.1";
  uint16_t Port() const noexcept { return FPort; }

  // Closes every socket and joins the thread; later calls do nothing. What was recorded stays.
  void Stop();

  // Connections accepted so far.
  size_t ConnectionCount() const;
  bool WaitForConnections(size_t ACount, std::chrono::milliseconds ATimeout) const;

  // Every byte connection AConnection has received so far (empty if it was not accepted yet).
  std::string Received(size_t AConnection = 0) const;
  // The number of bytes connection AConnection has handed to the system so far.
  uint64_t SentCount(size_t AConnection = 0) const;
  // Waits until the bytes received on AConnection contain AText.
  bool WaitForReceived(std::string_view AText, std::chrono::milliseconds ATimeout,
                       size_t AConnection = 0) const;
  // Waits until AConnection has received at least ACount bytes.
  bool WaitForReceivedCount(size_t ACount, std::chrono::milliseconds ATimeout, size_t AConnection = 0) const;
  // Waits until the peer of AConnection closed or reset it (not seen after the script's own Close or
  // Reset, since the server no longer reads then).
  bool WaitForPeerClose(std::chrono::milliseconds ATimeout, size_t AConnection = 0) const;

 private:
  struct TRecord {
    std::string Received;
    uint64_t Sent = 0;
    bool PeerClosed = false;
  };
  struct TConnection;

  void Run();
  void Accept(std::vector<TConnection>& AConnections);
  void Receive(TConnection& AConnection);
  void NotePeerClosed(TConnection& AConnection);
  void Advance(TConnection& AConnection);
  template <class Pred>
  bool WaitUntil(std::chrono::milliseconds ATimeout, Pred APred) const;

  std::vector<ServerScript> FScripts;
  UniqueFd FListener;
  UniqueFd FWake;  // eventfd that tells the thread to stop
  uint16_t FPort = 0;

  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  std::vector<TRecord> FRecords;  // one per accepted connection, guarded by FLock

  std::thread FThread;
};

}  // namespace qor::test
