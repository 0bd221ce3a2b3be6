#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/UniqueFd.hpp"

struct ssl_st;
struct ssl_ctx_st;

namespace qor::test {

// One accepted connection of a TlsServer, as its script drives it: plaintext first if it likes,
// then the TLS handshake, then TLS. Every wait gives up after ten seconds, so a broken test cannot
// hang the server.
class TlsPeer {
 public:
  TlsPeer(int AFd, ssl_ctx_st* AContext);
  ~TlsPeer();
  TlsPeer(const TlsPeer&) = delete;
  TlsPeer& operator=(const TlsPeer&) = delete;

  void SendPlain(std::string_view ABytes);
  // The next plaintext line with its LF; empty when the peer closed first.
  std::string ReadPlainLine();
  // The server's handshake; false when it failed.
  bool Accept();
  // Writes all of ABytes over TLS.
  void Send(std::string_view ABytes);
  // Writes ABytes over TLS as one record whose bytes go out in two pieces, APause apart.
  void SendSplit(std::string_view ABytes, std::chrono::milliseconds APause);
  // The next line over TLS with its LF; empty when the peer closed (or failed) first.
  std::string ReadLine();
  // Sends close_notify. Without it, the end of the script closes the TCP connection bare.
  void CloseNotify();
  // The name the client sent as SNI; empty for none.
  std::string ServerName() const;
  int Fd() const noexcept { return FFd; }

 private:
  int FFd;
  ssl_st* FSSL;
  std::string FPending;  // received past the last line
};

struct TlsServerOptions {
  std::string Cert;    // empty: the test PKI's server certificate
  int MaxVersion = 0;  // 0: any
};

// A TLS server on 127.0.0.1 for tests, on a thread of its own, serving one connection after
// another with AScript; the peer's socket closes when the script returns. Stopping (or destroying)
// the server shuts down the connection being served, wakes it and joins the thread.
class TlsServer {
 public:
  using TScript = std::function<void(TlsPeer&)>;

  explicit TlsServer(TScript AScript, TlsServerOptions AOptions = {});
  ~TlsServer();
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;

  uint16_t Port() const noexcept { return FPort; }
  void Stop();
  // The SNI names of the connections served so far, in order ("" for none).
  std::vector<std::string> ServerNames() const;

 private:
  void Serve();

  TScript FScript;
  ssl_ctx_st* FContext = nullptr;
  UniqueFd FListener;
  uint16_t FPort = 0;
  mutable std::mutex FLock;
  std::vector<std::string> FServerNames;
  bool FStopping = false;
  int FServing = -1;  // the descriptor of the connection being served, which Stop shuts down
  std::thread FThread;
};

}  // namespace qor::test
