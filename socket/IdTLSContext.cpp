#include "qorclnt/socket/IdTLSContext.hpp"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/runtime/Format.hpp"

namespace qor {

namespace {

[[noreturn]] void RaiseSetup(const char* AFormat, std::initializer_list<FormatArg> AArgs) {
  ERR_clear_error();
  Raise(EIdTLSSetupError(Format(AFormat, AArgs)));
}

bool IsRegularFile(const std::string& APath) {
  struct stat info {};
  return ::stat(APath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Loads the trusted certificates. A given file replaces the system's store, and must hold at least
// one certificate: an empty trust list would fail every connect with a misleading reason.
void LoadTrust(SSL_CTX* AContext, const TIdTLSSettings& ASettings) {
  if (ASettings.CAFile.empty() && ASettings.CAPath.empty()) {
    ERR_clear_error();
    SSL_CTX_set_default_verify_paths(AContext);  // a missing system store shows at verification
    ERR_clear_error();
    return;
  }
  if (!ASettings.CAFile.empty()) {
    if (!IsRegularFile(ASettings.CAFile)) RaiseSetup(RSTLSCAFileUnreadable, {ASettings.CAFile});
    ERR_clear_error();
    if (SSL_CTX_load_verify_file(AContext, ASettings.CAFile.c_str()) != 1) {
      RaiseSetup(RSTLSCAFileEmpty, {ASettings.CAFile});
    }
  }
  if (!ASettings.CAPath.empty()) {
    struct stat info {};
    if (::stat(ASettings.CAPath.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
      RaiseSetup(RSTLSCAPathMissing, {ASettings.CAPath});
    }
    ERR_clear_error();
    if (SSL_CTX_load_verify_dir(AContext, ASettings.CAPath.c_str()) != 1) {
      RaiseSetup(RSTLSCAPathMissing, {ASettings.CAPath});
    }
  }
}

void LoadClientCertificate(SSL_CTX* AContext, const TIdTLSSettings& ASettings) {
  if (ASettings.CertFile.empty()) return;
  const std::string& key = ASettings.KeyFile.empty() ? ASettings.CertFile : ASettings.KeyFile;
  ERR_clear_error();
  if (SSL_CTX_use_certificate_chain_file(AContext, ASettings.CertFile.c_str()) != 1) {
    RaiseSetup(RSTLSCertFileUnreadable, {ASettings.CertFile});
  }
  ERR_clear_error();
  if (SSL_CTX_use_PrivateKey_file(AContext, key.c_str(), SSL_FILETYPE_PEM) != 1) {
    // OpenSSL checks the pair while loading the key: tell a mismatch from an unreadable file.
    const bool mismatch = ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH;
    if (mismatch) RaiseSetup(RSTLSKeyMismatch, {key, ASettings.CertFile});
    RaiseSetup(RSTLSKeyFileUnreadable, {key});
  }
  ERR_clear_error();
  if (SSL_CTX_check_private_key(AContext) != 1) RaiseSetup(RSTLSKeyMismatch, {key, ASettings.CertFile});
}

}  // namespace

void TIdSSLContextFree::operator()(ssl_ctx_st* AContext) const noexcept {
  SSL_CTX_free(AContext);
}

TIdSSLContext NewTLSClientContext(const TIdTLSSettings& ASettings) {
  ERR_clear_error();
  TIdSSLContext context(SSL_CTX_new(TLS_client_method()));
  if (!context) Raise(EIdTLSSetupError(Format(RSTLSError, {TakeTLSErrorReason()})));
  SSL_CTX* const ctx = context.get();
  // Set explicitly rather than left to the system's configuration, which may allow older versions.
  SSL_CTX_set_min_proto_version(ctx, ASettings.MinVersion);
  // A write may go out in pieces, and a retried write may come from a buffer that has moved.
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_verify(ctx, ASettings.VerifyPeer ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  if (ASettings.VerifyPeer) LoadTrust(ctx, ASettings);
  LoadClientCertificate(ctx, ASettings);
  return context;
}

std::string PeerNameOf(const std::string& AHost) {
  std::string name = AHost.substr(0, AHost.find('%'));
  if (!name.empty() && name.front() == '[') name = name.substr(1, name.find(']') - 1);
  return name;
}

void SetTLSPeerName(ssl_st* AConnection, const std::string& AName, bool AVerify) {
  const std::string name = PeerNameOf(AName);
  if (name.empty()) return;
  X509_VERIFY_PARAM* const param = SSL_get0_param(AConnection);
  ERR_clear_error();
  // An IP literal is checked against the certificate's IP addresses; SNI carries DNS names only.
  const bool literal = X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) == 1;
  ERR_clear_error();
  if (literal) {
    if (!AVerify) X509_VERIFY_PARAM_set1_ip(param, nullptr, 0);
    return;
  }
  SSL_set_tlsext_host_name(AConnection, name.c_str());
  if (AVerify) {
    SSL_set_hostflags(AConnection, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    SSL_set1_host(AConnection, name.c_str());
  }
  ERR_clear_error();
}

std::string TakeTLSErrorReason() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  const char* const reason = code == 0 ? nullptr : ERR_reason_error_string(code);
  return reason != nullptr ? reason : "unknown error";
}

}  // namespace qor
