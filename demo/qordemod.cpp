// A small line server to try the client with: every line it receives is answered with a short reply
// that ends in a blank line. "QUIT" is answered and then the connection is closed.
//
//   qordemod [option]... [port [replies]]   listens on 127.0.0.1, port 15937 unless given; port 0
//                                           takes a free one; --help shows the usage text
//
// The first line it writes names the port it listens on. With "replies" it speaks in numeric replies
// instead, for trying SendCommand and ReadReply: it greets a new connection with "220 QORDEMOD READY"
// and answers
//   HELO name   250 HELLO name
//   HELP        a multi-line 214 reply, one line per command
//   DATA count  150 count BYTES FOLLOW, then count bytes of text lines, then it closes the connection
//   QUIT        221 BYE, then it closes the connection
//   else        500 UNKNOWN COMMAND
// One connection is served at a time while DATA sends.
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "DemoOptions.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/runtime/Strings.hpp"
#include "qorclnt/socket/IdStack.hpp"

namespace {

using qor::TIdStack;
using qor::TIdStackSocketHandle;

// Sends all of AText; false when the peer has gone.
bool SendAll(TIdStack& AStack, TIdStackSocketHandle AHandle, const std::string& AText) {
  size_t sent = 0;
  while (sent < AText.size()) {
    const int32_t n =
        AStack.SendData(AHandle, AText.data() + sent, static_cast<int32_t>(AText.size() - sent), 0);
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
bool SendData(TIdStack& AStack, TIdStackSocketHandle AHandle, int32_t ACount) {
  static const std::string block = [] {
    std::string line(63, 'D');
    line += '\n';
    std::string lines;
    for (int i = 0; i < 1024; ++i) lines += line;
    return lines;
  }();
  for (int32_t left = ACount; left > 0;) {
    const size_t n = std::min(block.size(), static_cast<size_t>(left));
    if (!SendAll(AStack, AHandle, block.substr(0, n))) return false;
    left -= static_cast<int32_t>(n);
  }
  return true;
}

constexpr int32_t DataLimit = 1 << 30;

// Answers ALine in numeric replies; false when the connection is to be closed.
bool AnswerReply(TIdStack& AStack, TIdStackSocketHandle AHandle, const std::string& ALine) {
  if (ALine == "QUIT") {
    SendAll(AStack, AHandle, "221 BYE\r\n");
    return false;
  }
  if (ALine.rfind("DATA ", 0) == 0) {
    const int32_t count = qor::StrToIntDef(ALine.substr(5), -1);
    if (count < 0 || count > DataLimit) return SendAll(AStack, AHandle, "501 BAD COUNT\r\n");
    SendAll(AStack, AHandle, "150 " + std::to_string(count) + " BYTES FOLLOW\r\n") &&
        SendData(AStack, AHandle, count);
    return false;
  }
  if (ALine.rfind("HELO ", 0) == 0) return SendAll(AStack, AHandle, "250 HELLO " + ALine.substr(5) + "\r\n");
  if (ALine == "HELP") {
    return SendAll(AStack, AHandle,
                   "214-COMMANDS:\r\n214-HELO name\r\n214-DATA count\r\n214-QUIT\r\n214 END OF HELP\r\n");
  }
  return SendAll(AStack, AHandle, "500 UNKNOWN COMMAND\r\n");
}

// What one connection has sent beyond its last whole line.
struct TPeer {
  std::string Pending;
};

// Answers every whole line that APeer has sent (in numeric replies with ANumeric); false when the
// connection is to be closed.
bool Answer(TIdStack& AStack, TIdStackSocketHandle AHandle, TPeer& APeer, const char* AData, int32_t ACount,
            bool ANumeric) {
  const size_t scanned = APeer.Pending.size();
  APeer.Pending.append(AData, static_cast<size_t>(ACount));
  size_t start = 0;
  for (size_t lf = APeer.Pending.find('\n', scanned); lf != std::string::npos;
       lf = APeer.Pending.find('\n', start)) {
    std::string line = APeer.Pending.substr(start, lf - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = lf + 1;
    if (ANumeric) {
      if (!AnswerReply(AStack, AHandle, line)) return false;
    } else if (!SendAll(AStack, AHandle, ReplyTo(line)) || line == "QUIT") {
      return false;
    }
  }
  APeer.Pending.erase(0, start);
  return APeer.Pending.size() <= 65536;  // no line end in sight: not a line client
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
  std::unique_ptr<TIdStack> stack = TIdStack::NewStack();
  const TIdStackSocketHandle listener = stack->CreateIPv4Socket(SOCK_STREAM, 0);
  const int one = 1;
  stack->SetSocketOption(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (stack->BindSocket(listener, qor::Id_PF_INET, "127.0.0.1", port) != 0 ||
      stack->ListenSocket(listener, 16) != 0) {
    std::fprintf(stderr, "qordemod: cannot listen on 127.0.0.1:%d\n", static_cast<int>(port));
    return 1;
  }
  uint16_t family = 0;
  std::string ip;
  int32_t bound = 0;
  stack->GetSocketAddress(listener, family, ip, bound);
  std::printf("qordemod: listening on 127.0.0.1:%d\n", static_cast<int>(bound));
  std::fflush(stdout);
  std::map<TIdStackSocketHandle, TPeer> peers;
  for (;;) {
    qor::TIdSocketDescriptors ready{listener};
    for (const auto& [handle, peer] : peers) ready.push_back(handle);
    if (peers.size() >= 1000) ready.erase(ready.begin());  // full: accept no one until a peer leaves
    if (stack->WaitForSockets(&ready, nullptr, nullptr, qor::IdTimeoutInfinite) <= 0) continue;
    for (const TIdStackSocketHandle handle : ready) {
      if (handle == listener) {
        std::string ip;
        int32_t peerPort = 0;
        const TIdStackSocketHandle client = stack->AcceptConnection(listener, ip, peerPort);
        if (client < 0) continue;
        peers[client];
        if (numeric) SendAll(*stack, client, "220 QORDEMOD READY\r\n");
        continue;
      }
      char chunk[4096];
      const int32_t n = stack->ReceiveData(handle, chunk, sizeof chunk, 0);
      if (n <= 0 || !Answer(*stack, handle, peers[handle], chunk, n, numeric)) {
        stack->ShutdownSocket(handle, SHUT_RDWR);
        stack->CloseSocketDescriptor(handle);
        peers.erase(handle);
      }
    }
  }
}
