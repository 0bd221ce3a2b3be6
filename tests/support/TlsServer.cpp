#include "support/TlsServer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <csignal>
#include <stdexcept>

#include "support/Posix.hpp"
#include "support/TestPki.hpp"

namespace qor::test {

TlsPeer::TlsPeer(int AFd, ssl_ctx_st* AContext) : FFd(AFd), FSSL(SSL_new(AContext)) {
  SSL_set_fd(FSSL, AFd);
}

TlsPeer::~TlsPeer() {
  SSL_free(FSSL);
}

void TlsPeer::SendPlain(std::string_view ABytes) {
  while (!ABytes.empty()) {
    const ssize_t n = ::send(FFd, ABytes.data(), ABytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    ABytes.remove_prefix(static_cast<size_t>(n));
  }
}

std::string TlsPeer::ReadPlainLine() {
  // Byte by byte, so that nothing after the line is taken from the socket: it may be TLS.
  std::string line;
  char c;
  while (::recv(FFd, &c, 1, 0) == 1) {
    line += c;
    if (c == '\n') return line;
  }
  return {};
}

bool TlsPeer::Accept() {
  ERR_clear_error();
  const bool accepted = SSL_accept(FSSL) == 1;
  ERR_clear_error();
  return accepted;
}

void TlsPeer::Send(std::string_view ABytes) {
  while (!ABytes.empty()) {
    const int n = SSL_write(FSSL, ABytes.data(), static_cast<int>(ABytes.size()));
    if (n <= 0) {
      ERR_clear_error();
      return;
    }
    ABytes.remove_prefix(static_cast<size_t>(n));
  }
}

void TlsPeer::SendSplit(std::string_view ABytes, std::chrono::milliseconds APause) {
  // The record is made into memory, then sent by hand.
  BIO* const socket = SSL_get_wbio(FSSL);
  BIO_up_ref(socket);
  SSL_set0_wbio(FSSL, BIO_new(BIO_s_mem()));
  SSL_write(FSSL, ABytes.data(), static_cast<int>(ABytes.size()));
  char* record = nullptr;
  const long length = BIO_get_mem_data(SSL_get_wbio(FSSL), &record);
  const std::string bytes(record, static_cast<size_t>(length));
  SSL_set0_wbio(FSSL, socket);
  SendPlain(std::string_view(bytes).substr(0, bytes.size() / 2));
  std::this_thread::sleep_for(APause);
  SendPlain(std::string_view(bytes).substr(bytes.size() / 2));
}

std::string TlsPeer::ReadLine() {
  for (;;) {
    const size_t lf = FPending.find('\n');
    if (lf != std::string::npos) {
      std::string line = FPending.substr(0, lf + 1);
      FPending.erase(0, lf + 1);
      return line;
    }
    char chunk[4096];
    const int n = SSL_read(FSSL, chunk, sizeof chunk);
    if (n <= 0) {
      ERR_clear_error();
      return {};
    }
    FPending.append(chunk, static_cast<size_t>(n));
  }
}

void TlsPeer::CloseNotify() {
  SSL_shutdown(FSSL);
  ERR_clear_error();
}

std::string TlsPeer::ServerName() const {
  const char* name = SSL_get_servername(FSSL, TLSEXT_NAMETYPE_host_name);
  return name != nullptr ? name : "";
}

TlsServer::TlsServer(TScript AScript, TlsServerOptions AOptions) : FScript(std::move(AScript)) {
  // OpenSSL's socket BIO writes without MSG_NOSIGNAL: a client that left early must not end the test.
  std::signal(SIGPIPE, SIG_IGN);
  const TestPki& pki = TestPki::Get();
  FContext = SSL_CTX_new(TLS_server_method());
  const std::string cert = AOptions.Cert.empty() ? pki.ServerCert : AOptions.Cert;
  const std::string& key = pki.ServerKey;
  if (SSL_CTX_use_certificate_chain_file(FContext, cert.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(FContext, key.c_str(), SSL_FILETYPE_PEM) != 1) {
    SSL_CTX_free(FContext);
    throw std::runtime_error("test server certificate not usable");
  }
  if (AOptions.MaxVersion != 0) SSL_CTX_set_max_proto_version(FContext, AOptions.MaxVersion);
  FListener = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  if (::bind(FListener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(FListener.Get(), 8) != 0 ||
      ::getsockname(FListener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    SSL_CTX_free(FContext);
    ThrowSystemError("bind the TLS test server");
  }
  FPort = ntohs(address.sin_port);
  FThread = std::thread([this] { Serve(); });
}

TlsServer::~TlsServer() {
  Stop();
  SSL_CTX_free(FContext);
}

void TlsServer::Stop() {
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FStopping = true;
    if (FServing >= 0) ::shutdown(FServing, SHUT_RDWR);
  }
  ::shutdown(FListener.Get(), SHUT_RDWR);  // wakes the accept
  if (FThread.joinable()) FThread.join();
}

std::vector<std::string> TlsServer::ServerNames() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FServerNames;
}

void TlsServer::Serve() {
  for (;;) {
    const UniqueFd fd(::accept4(FListener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    {
      const std::lock_guard<std::mutex> lock(FLock);
      if (!fd.Valid() || FStopping) return;
      FServing = fd.Get();
    }
    const timeval limit{10, 0};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    TlsPeer peer(fd.Get(), FContext);
    try {
      FScript(peer);
    } catch (...) {
      // A script that failed ends its connection; the test sees that from the client side.
    }
    const std::lock_guard<std::mutex> lock(FLock);
    FServing = -1;
    FServerNames.push_back(peer.ServerName());
  }
}

}  // namespace qor::test
