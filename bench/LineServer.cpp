// A loopback line server for the end-to-end benchmark, in plain POSIX (and OpenSSL for its TLS mode). It
// listens on 127.0.0.1, or on ::1 when the first parameter is -6 (the port given, or one of the system's
// choice; 0 picks one), prints the port as the first line of its standard output, and serves one connection
// at a time until it is stopped. With "tls" after the port it speaks TLS with a certificate for localhost,
// 127.0.0.1 and ::1 made at start, and prints the path of that certificate (what a client trusts) as the
// second line; the certificate's folder is left for the caller to remove. Each line received picks the
// mode of its answer:
//
//   LineServer [-6] [port [tls]]
//
//
//   BULK n l   bulk: n lines of l bytes of text, then a blank line
//   LONG n     longline: n bytes without a line end, then silence until the client closes
//   DRIP l     drip: a line of l bytes and a blank line, one byte every 10 ms
//   others     pingpong: the line itself, then a blank line
//
// Every answer is bounded (the numbers are capped), and a client that goes away ends it.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "DemoTLS.hpp"
#include "LoopbackAddress.hpp"
#include "support/UniqueFd.hpp"

namespace {

constexpr uint64_t MaxLines = 100'000'000;
constexpr uint64_t MaxLineBytes = 1 << 20;
constexpr uint64_t MaxLongBytes = uint64_t{8} << 30;
constexpr uint64_t MaxDripBytes = 10'000;
constexpr size_t BlockBytes = 1 << 20;

// The TLS connection of the client being served in TLS mode; null otherwise.
SSL* Tls = nullptr;

// Sends all of AData; false when the client has gone.
bool SendAll(int AFd, const char* AData, size_t ALength) {
  while (ALength > 0) {
    const ssize_t n = Tls != nullptr
                          ? SSL_write(Tls, AData, static_cast<int>(std::min<size_t>(ALength, BlockBytes)))
                          : ::send(AFd, AData, ALength, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    AData += n;
    ALength -= static_cast<size_t>(n);
  }
  return true;
}

bool SendAll(int AFd, const std::string& AText) {
  return SendAll(AFd, AText.data(), AText.size());
}

// The number after the first AWord words of ALine, capped at AMax; 0 when there is none.
uint64_t Number(const std::string& ALine, int AWord, uint64_t AMax) {
  const char* p = ALine.c_str();
  for (int i = 0; i < AWord; ++i) {
    p = std::strchr(p, ' ');
    if (p == nullptr) return 0;
    ++p;
  }
  return std::min<uint64_t>(std::strtoull(p, nullptr, 10), AMax);
}

bool Bulk(int AFd, uint64_t ALines, uint64_t ALength) {
  const std::string line = std::string(ALength, 'b') + "\r\n";
  // Whole lines are sent in blocks of about BlockBytes.
  const uint64_t blockLines = std::min(ALines, std::max<uint64_t>(1, BlockBytes / line.size()));
  std::string block;
  for (uint64_t i = 0; i < blockLines; ++i) block += line;
  for (uint64_t left = ALines; left > 0;) {
    const uint64_t n = std::min(left, blockLines);
    if (!SendAll(AFd, block.data(), n * line.size())) return false;
    left -= n;
  }
  return SendAll(AFd, "\r\n", 2);
}

bool Long(int AFd, uint64_t ABytes) {
  const std::string block(BlockBytes, 'l');
  for (uint64_t left = ABytes; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    if (!SendAll(AFd, block.data(), n)) return false;
    left -= n;
  }
  return true;
}

bool Drip(int AFd, uint64_t ALength) {
  const std::string reply = std::string(ALength, 'd') + "\r\n\r\n";
  const timespec pause{0, 10'000'000};
  for (const char c : reply) {
    if (!SendAll(AFd, &c, 1)) return false;
    ::nanosleep(&pause, nullptr);
  }
  return true;
}

bool Answer(int AFd, const std::string& ALine) {
  if (ALine.rfind("BULK ", 0) == 0)
    return Bulk(AFd, Number(ALine, 1, MaxLines), Number(ALine, 2, MaxLineBytes));
  if (ALine.rfind("LONG ", 0) == 0) return Long(AFd, Number(ALine, 1, MaxLongBytes));
  if (ALine.rfind("DRIP ", 0) == 0) return Drip(AFd, Number(ALine, 1, MaxDripBytes));
  return SendAll(AFd, ALine + "\r\n\r\n");
}

// Answers every line of one client until it closes or goes away.
void Serve(int AFd) {
  std::string pending;
  char chunk[65536];
  size_t scanned = 0;
  for (;;) {
    const ssize_t n = Tls != nullptr ? SSL_read(Tls, chunk, static_cast<int>(sizeof chunk))
                                     : ::recv(AFd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    pending.append(chunk, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t lf = pending.find('\n', scanned); lf != std::string::npos; lf = pending.find('\n', start)) {
      const size_t end = lf > start && pending[lf - 1] == '\r' ? lf - 1 : lf;
      if (!Answer(AFd, pending.substr(start, end - start))) return;
      start = lf + 1;
    }
    pending.erase(0, start);
    scanned = pending.size();
    if (pending.size() > MaxLineBytes) return;  // no line end in sight: not a line client
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool ipv6 = qor::bench::TakeIpv6Option(argc, argv);
  SSL_CTX* context = nullptr;
  std::string certificate;
  if (argc > 2 && std::strcmp(argv[2], "tls") == 0) {
    context = qordemo::NewDemoContext({}, {}, certificate);
    if (context == nullptr) return 1;
    ::signal(SIGPIPE, SIG_IGN);  // a client gone while TLS writes to its socket ends only that answer
  }
  const qor::test::UniqueFd listening(::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int listener = listening.Get();
  const int one = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage address{};
  socklen_t length =
      qor::bench::LoopbackSockAddr(ipv6, static_cast<uint16_t>(argc > 1 ? std::atoi(argv[1]) : 0), address);
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("LineServer");
    return 1;
  }
  std::printf("%d\n", qor::bench::SockAddrPort(address));
  if (context != nullptr) std::printf("%s\n", certificate.c_str());
  std::fflush(stdout);
  for (;;) {
    const qor::test::UniqueFd client(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.Valid()) continue;
    ::setsockopt(client.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (context == nullptr) {
      Serve(client.Get());
      continue;
    }
    Tls = SSL_new(context);
    if (Tls != nullptr && SSL_set_fd(Tls, client.Get()) == 1 && SSL_accept(Tls) == 1) Serve(client.Get());
    SSL_free(Tls);
    Tls = nullptr;
  }
}
