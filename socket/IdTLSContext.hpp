#pragma once

#include <cstdint>
#include <memory>
#include <string>

// OpenSSL's types, declared here so that users of this header need not include OpenSSL's.
struct ssl_ctx_st;
struct ssl_st;

namespace qor {

// The lowest TLS protocol version a connection accepts.
enum TIdTLSVersion : uint16_t {
  tvTLSv1 = 0x0301,
  tvTLSv1_1 = 0x0302,
  tvTLSv1_2 = 0x0303,
  tvTLSv1_3 = 0x0304
};

// What a TLS client context is made of.
struct TIdTLSSettings {
  // Check the peer's certificate chain and name; off, anything the peer shows is accepted.
  bool VerifyPeer = true;
  // The trusted certificates: a PEM file and/or a hashed folder; both empty means the system's store
  // (which honours SSL_CERT_FILE and SSL_CERT_DIR).
  std::string CAFile;
  std::string CAPath;
  // A client certificate and its key, both PEM; the key defaults to the certificate's file.
  std::string CertFile;
  std::string KeyFile;
  TIdTLSVersion MinVersion = tvTLSv1_2;
};

struct TIdSSLContextFree {
  void operator()(ssl_ctx_st* AContext) const noexcept;
};
using TIdSSLContext = std::unique_ptr<ssl_ctx_st, TIdSSLContextFree>;

// A client context for ASettings. Everything that can be checked without a peer is checked here, so
// that a bad setting fails before any connect: EIdTLSSetupError for a CA file that cannot be read or
// holds no certificate, a CA path that is no folder, an unreadable certificate or key, or a key that
// does not match its certificate.
TIdSSLContext NewTLSClientContext(const TIdTLSSettings& ASettings);

// Prepares AConnection to check the peer as AName (an empty name checks no name): a DNS name is sent
// as SNI and matched against the certificate's DNS names; an IPv4 or IPv6 literal (a zone after "%"
// is dropped) is matched against its IP addresses and not sent. With AVerify false nothing is
// checked, but a DNS name still goes out as SNI.
void SetTLSPeerName(ssl_st* AConnection, const std::string& AName, bool AVerify);

// The name a host text is verified as: an IPv6 literal without its brackets and its zone, which only
// the connect needs ("[::1]" gives "::1", "fe80::1%eth0" gives "fe80::1"); any other text as it is.
std::string PeerNameOf(const std::string& AHost);

// The reason of the oldest error in this thread's OpenSSL error queue ("unknown error" when the queue
// is empty); the queue is emptied.
std::string TakeTLSErrorReason();

}  // namespace qor
