// A small line server to try the client with: every line it receives is answered with a short reply
// that ends in a blank line. "QUIT" is answered and then the connection is closed.
//
//   qordemod [option]... [port [replies]]   see --help; listens on 127.0.0.1 (-6: ::1), port 15937
//                                           unless given; port 0 takes a free one
//
// The first line it writes names the port it listens on. With --tls it speaks TLS from the first
// byte, with the certificate and key of --cert and --key or with a certificate that it makes at start
// and names on its second line ("qordemod: TLS certificate in <path>"; qorclnt -TLS -CAFILE <path>
// trusts it). With "replies" it speaks in numeric replies instead, for trying SendCommand and
// ReadReply: it greets a new connection with "220 QORDEMOD READY" and answers
//   HELO name   250 HELLO name
//   HELP        a multi-line 214 reply, one line per command
//   DATA count  150 count BYTES FOLLOW, then count bytes of text lines, then it closes the connection
//   QUIT        221 BYE, then it closes the connection
//   else        500 UNKNOWN COMMAND
// One connection is served at a time while DATA sends.
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "DemoOptions.hpp"
#include "DemoTLS.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/runtime/Strings.hpp"
#include "qorclnt/socket/IdStack.hpp"

namespace {

using qor::TIdStack;
using qor::TIdStackSocketHandle;

// One connection: its socket, its TLS connection in TLS mode, and what it has sent beyond its last
// whole line.
struct TPeer {
  TIdStack* Stack = nullptr;
  TIdStackSocketHandle Handle = -1;
  SSL* Tls = nullptr;
  std::string Pending;
};

// Sends all of AText; false when the peer has gone.
bool SendAll(const TPeer& APeer, const std::string& AText) {
  size_t sent = 0;
  while (sent < AText.size()) {
    const auto left = static_cast<int32_t>(AText.size() - sent);
    const int32_t n = APeer.Tls != nullptr
                          ? SSL_write(APeer.Tls, AText.data() + sent, left)
                          : APeer.Stack->SendData(APeer.Handle, AText.data() + sent, left, 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string ReplyTo(const std::string& ALine) {
  if (ALine.empty()) return "OK (an empty line)\r\n\r\n";
  if (ALine == "QUIT") return "BYE\r\n\r\n";
  if (ALine == "HELP") {
    return "THIS DEMO SERVER ANSWERS EVERY LINE\r\n"
           "QUIT: SAYS BYE AND CLOSES THE CONNECTION\r\n\r\n";
  }
  return "OK " + ALine + "\r\n\r\n";
}

// Sends ACount bytes of 64-byte text lines.
bool SendData(const TPeer& APeer, int32_t ACount) {
  static const std::string block = [] {
    std::string line(63, 'D');
    line += '\n';
    std::string lines;
    for (int i = 0; i < 1024; ++i) lines += line;
    return lines;
  }();
  for (int32_t left = ACount; left > 0;) {
    const size_t n = std::min(block.size(), static_cast<size_t>(left));
    if (!SendAll(APeer, block.substr(0, n))) return false;
    left -= static_cast<int32_t>(n);
  }
  return true;
}

constexpr int32_t DataLimit = 1 << 30;

// Answers ALine in numeric replies; false when the connection is to be closed.
bool AnswerReply(const TPeer& APeer, const std::string& ALine) {
  if (ALine == "QUIT") {
    SendAll(APeer, "221 BYE\r\n");
    return false;
  }
  if (ALine.rfind("DATA ", 0) == 0) {
    const int32_t count = qor::StrToIntDef(ALine.substr(5), -1);
    if (count < 0 || count > DataLimit) return SendAll(APeer, "501 BAD COUNT\r\n");
    SendAll(APeer, "150 " + std::to_string(count) + " BYTES FOLLOW\r\n") && SendData(APeer, count);
    return false;
  }
  if (ALine.rfind("HELO ", 0) == 0) return SendAll(APeer, "250 HELLO " + ALine.substr(5) + "\r\n");
  if (ALine == "HELP") {
    return SendAll(APeer,
                   "214-COMMANDS:\r\n214-HELO name\r\n214-DATA count\r\n214-QUIT\r\n214 END OF HELP\r\n");
  }
  return SendAll(APeer, "500 UNKNOWN COMMAND\r\n");
}

// Answers every whole line that APeer has sent (in numeric replies with ANumeric); false when the
// connection is to be closed.
bool Answer(TPeer& APeer, const char* AData, int32_t ACount, bool ANumeric) {
  const size_t scanned = APeer.Pending.size();
  APeer.Pending.append(AData, static_cast<size_t>(ACount));
  size_t start = 0;
  for (size_t lf = APeer.Pending.find('\n', scanned); lf != std::string::npos;
       lf = APeer.Pending.find('\n', start)) {
    std::string line = APeer.Pending.substr(start, lf - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = lf + 1;
    if (ANumeric) {
      if (!AnswerReply(APeer, line)) return false;
    } else if (!SendAll(APeer, ReplyTo(line)) || line == "QUIT") {
      return false;
    }
  }
  APeer.Pending.erase(0, start);
  return APeer.Pending.size() <= 65536;  // no line end in sight: not a line client
}

// Receives what APeer has sent and answers it, taking in every record TLS holds already; false when
// the connection is to be closed.
bool Serve(TPeer& APeer, bool ANumeric) {
  char chunk[4096];
  do {
    const int32_t n = APeer.Tls != nullptr ? SSL_read(APeer.Tls, chunk, sizeof chunk)
                                           : APeer.Stack->ReceiveData(APeer.Handle, chunk, sizeof chunk, 0);
    if (n <= 0 || !Answer(APeer, chunk, n, ANumeric)) return false;
  } while (APeer.Tls != nullptr && SSL_pending(APeer.Tls) > 0);
  return true;
}

// Starts TLS on a new connection; a peer that takes longer than five seconds for a step is dropped.
bool StartTLS(TPeer& APeer, SSL_CTX* AContext) {
  const timeval limit{5, 0};
  APeer.Stack->SetSocketOption(APeer.Handle, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  APeer.Stack->SetSocketOption(APeer.Handle, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  APeer.Tls = SSL_new(AContext);
  return APeer.Tls != nullptr && SSL_set_fd(APeer.Tls, APeer.Handle) == 1 && SSL_accept(APeer.Tls) == 1;
}

void Drop(TPeer& APeer) {
  if (APeer.Tls != nullptr) SSL_shutdown(APeer.Tls);
  SSL_free(APeer.Tls);
  APeer.Stack->ShutdownSocket(APeer.Handle, SHUT_RDWR);
  APeer.Stack->CloseSocketDescriptor(APeer.Handle);
}

}  // namespace

int main(int argc, char** argv) {
  qor::demo::TDemoOptions options;
  const std::string failure = qor::demo::ParseDemoOptions({argv + 1, argv + argc}, options);
  if (!failure.empty()) {
    std::fprintf(stderr, "qordemod: %s\n%s", failure.c_str(), qor::demo::DemoUsage);
    return 2;
  }
  if (options.Help) {
    std::fputs(qor::demo::DemoUsage, stdout);
    return 0;
  }
  const int32_t port = options.Port;
  const bool numeric = options.Replies;
  const bool tls = options.Tls;
  std::signal(SIGPIPE, SIG_IGN);  // OpenSSL's socket writes do not ask for MSG_NOSIGNAL
  const uint16_t family = options.Ipv6 ? qor::Id_PF_INET6 : qor::Id_PF_INET;
  const char* const address = options.Ipv6 ? "::1" : "127.0.0.1";
  const char* const shown = options.Ipv6 ? "[::1]" : "127.0.0.1";
  std::unique_ptr<TIdStack> stack = TIdStack::NewStack();
  const TIdStackSocketHandle listener = stack->CreateSocket(family, SOCK_STREAM, 0);
  const int one = 1;
  stack->SetSocketOption(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (stack->BindSocket(listener, family, address, port) != 0 || stack->ListenSocket(listener, 16) != 0) {
    std::fprintf(stderr, "qordemod: cannot listen on %s:%d\n", shown, static_cast<int>(port));
    return 1;
  }
  std::string madeCert;
  SSL_CTX* const context =
      tls ? qordemo::NewDemoContext(options.CertFile, options.KeyFile, madeCert) : nullptr;
  if (tls && context == nullptr) return 1;
  uint16_t boundFamily = 0;
  std::string ip;
  int32_t bound = 0;
  stack->GetSocketAddress(listener, boundFamily, ip, bound);
  std::printf("qordemod: listening on %s:%d\n", shown, static_cast<int>(bound));
  if (!madeCert.empty()) std::printf("qordemod: TLS certificate in %s\n", madeCert.c_str());
  std::fflush(stdout);
  std::map<TIdStackSocketHandle, TPeer> peers;
  for (;;) {
    qor::TIdSocketDescriptors ready{listener};
    for (const auto& [handle, peer] : peers) ready.push_back(handle);
    if (peers.size() >= 1000) ready.erase(ready.begin());  // full: accept no one until a peer leaves
    if (stack->WaitForSockets(&ready, nullptr, nullptr, qor::IdTimeoutInfinite) <= 0) continue;
    for (const TIdStackSocketHandle handle : ready) {
      if (handle == listener) {
        std::string peerIP;
        int32_t peerPort = 0;
        const TIdStackSocketHandle client = stack->AcceptConnection(listener, peerIP, peerPort);
        if (client < 0) continue;
        TPeer& peer = peers[client];
        peer.Stack = stack.get();
        peer.Handle = client;
        if ((context != nullptr && !StartTLS(peer, context)) ||
            (numeric && !SendAll(peer, "220 QORDEMOD READY\r\n"))) {
          Drop(peer);
          peers.erase(client);
        }
        continue;
      }
      TPeer& peer = peers[handle];
      if (!Serve(peer, numeric)) {
        Drop(peer);
        peers.erase(handle);
      }
    }
  }
}
