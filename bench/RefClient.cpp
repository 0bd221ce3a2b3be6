// The least possible client that keeps the console's contract, as the end-to-end benchmark's
// yardstick: it connects once to 127.0.0.1:port (with -6 to [::1]:port), then for every line of standard
// input sends the line with CR LF and writes each reply line (LF-terminated, one CR before the LF dropped)
// with one write to standard output, until a blank line. Like the console client it receives at most 32768
// bytes at a time, waits at most the time-out (ms) for data, and ends a reply early on a time-out, a close or
// a line longer than 16384 bytes. With "prompt" it also writes what the console writes after every
// reply, a blank line and the prompt "> ", in one write: the console's whole cost per exchange. With
// "tls" and a CA file it speaks TLS as the console's -TLS does: a handshake after the connect, the
// server verified as its address (127.0.0.1 or ::1) against that file, at least TLS 1.2. With "step"
// it pauses 125 ms after the connect, as the console's timed connect waits one step before it goes
// on: the yardstick for what a handshake adds to a connect, since one made after a pause, on caches
// and a processor gone cold, takes longer than one made at once.
//
//   RefClient [-6] port [timeout [prompt|step|-] [tls cafile]]
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "LoopbackAddress.hpp"
#include "support/UniqueFd.hpp"

namespace {

constexpr size_t ReceiveSize = 32768;
constexpr size_t MaxLine = 16384;

// The TLS connection in TLS mode; null otherwise.
SSL* Tls = nullptr;

bool WriteAll(int AFd, const char* AData, size_t ALength, int AFlags) {
  while (ALength > 0) {
    const ssize_t n = AFd == STDOUT_FILENO ? ::write(AFd, AData, ALength)
                      : Tls != nullptr     ? SSL_write(Tls, AData, static_cast<int>(ALength))
                                           : ::send(AFd, AData, ALength, AFlags);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    AData += n;
    ALength -= static_cast<size_t>(n);
  }
  return true;
}

// Received bytes: the unread ones are [Start, End).
struct Input {
  char Data[MaxLine + 1 + ReceiveSize];
  size_t Start = 0;
  size_t End = 0;
  size_t Scanned = 0;  // unread bytes already known to hold no LF
};

// Prints the reply lines up to the first blank one; false when the connection is of no further use.
bool ReadReply(int AFd, Input& AIn) {
  for (;;) {
    char* const unread = AIn.Data + AIn.Start;
    auto* lf = static_cast<char*>(std::memchr(unread + AIn.Scanned, '\n', AIn.End - AIn.Start - AIn.Scanned));
    if (lf != nullptr) {
      char* end = lf > unread && lf[-1] == '\r' ? lf - 1 : lf;
      AIn.Start = static_cast<size_t>(lf + 1 - AIn.Data);
      AIn.Scanned = 0;
      if (end == unread) return true;
      *end = '\n';  // the line and its LF, written in place
      if (!WriteAll(STDOUT_FILENO, unread, static_cast<size_t>(end + 1 - unread), 0)) std::exit(1);
      continue;
    }
    AIn.Scanned = AIn.End - AIn.Start;
    if (AIn.Scanned > MaxLine) return false;
    if (AIn.Start == AIn.End) {
      AIn.Start = AIn.End = 0;
    } else if (sizeof AIn.Data - AIn.End < ReceiveSize) {
      std::memmove(AIn.Data, unread, AIn.Scanned);
      AIn.Start = 0;
      AIn.End = AIn.Scanned;
    }
    const ssize_t n = Tls != nullptr ? SSL_read(Tls, AIn.Data + AIn.End, static_cast<int>(ReceiveSize))
                                     : ::recv(AFd, AIn.Data + AIn.End, ReceiveSize, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // time-out, close or failure
    AIn.End += static_cast<size_t>(n);
  }
}

// A verified TLS connection over AFd, trusting ACAFile; null when the handshake fails.
SSL* StartTLS(int AFd, const char* ACAFile, const char* AAddress) {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  SSL* tls = SSL_CTX_load_verify_file(context, ACAFile) == 1 ? SSL_new(context) : nullptr;
  SSL_CTX_free(context);  // the connection keeps its own reference
  if (tls != nullptr && SSL_set_fd(tls, AFd) == 1 &&
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(tls), AAddress) == 1 && SSL_connect(tls) == 1) {
    return tls;
  }
  SSL_free(tls);
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const bool ipv6 = qor::bench::TakeIpv6Option(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: RefClient [-6] port [timeout [prompt|-] [tls cafile]]\n");
    return 2;
  }
  const int timeout = argc > 2 ? std::atoi(argv[2]) : 1000;
  const bool prompt = argc > 3 && std::strcmp(argv[3], "prompt") == 0;
  const bool step = argc > 3 && std::strcmp(argv[3], "step") == 0;
  const qor::test::UniqueFd connection(::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int fd = connection.Get();
  sockaddr_storage address{};
  const socklen_t length =
      qor::bench::LoopbackSockAddr(ipv6, static_cast<uint16_t>(std::atoi(argv[1])), address);
  // Like the console client, it leaves Nagle's algorithm on; the time-out is set once.
  const timeval wait{timeout / 1000, timeout % 1000 * 1000};
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) {
    std::perror("RefClient");
    return 1;
  }
  if (step) ::usleep(125'000);
  if (argc > 5 && std::strcmp(argv[4], "tls") == 0 &&
      (Tls = StartTLS(fd, argv[5], ipv6 ? "::1" : "127.0.0.1")) == nullptr) {
    std::fprintf(stderr, "RefClient: TLS handshake failed\n");
    return 1;
  }
  static Input in;
  // Standard input, read in blocks: the unread commands are [start, have). Each command goes out with
  // CR LF in one send.
  static char commands[65536];
  static char line[sizeof commands + 2];
  size_t start = 0;
  size_t have = 0;
  bool usable = true;
  for (;;) {
    char* const first = commands + start;
    char* const lf = static_cast<char*>(std::memchr(first, '\n', have - start));
    if (lf == nullptr) {
      if (start == 0 && have == sizeof commands) return 1;  // a command this long is no command
      std::memmove(commands, first, have - start);
      have -= start;
      start = 0;
      const ssize_t n = ::read(STDIN_FILENO, commands + have, sizeof commands - have);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return 0;
      have += static_cast<size_t>(n);
      continue;
    }
    const char* const end = lf > first && lf[-1] == '\r' ? lf - 1 : lf;
    const auto length = static_cast<size_t>(end - first);
    std::memcpy(line, first, length);
    std::memcpy(line + length, "\r\n", 2);
    start = static_cast<size_t>(lf + 1 - commands);
    if (usable && WriteAll(fd, line, length + 2, MSG_NOSIGNAL)) usable = ReadReply(fd, in);
    if (prompt && !WriteAll(STDOUT_FILENO, "\n> ", 3, 0)) return 1;
  }
}
