#include "DemoTLS.hpp"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace qordemo {

namespace {

void AddExtension(X509* ACert, int ANid, const char* AValue) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, ACert, ACert, nullptr, nullptr, 0);
  if (X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, ANid, AValue)) {
    X509_add_ext(ACert, extension, -1);
    X509_EXTENSION_free(extension);
  }
}

// Writes APem's output to AFolder/AName; false when that fails.
template <class TWrite>
bool WritePem(const std::string& APath, TWrite AWrite) {
  FILE* file = std::fopen(APath.c_str(), "w");
  if (file == nullptr) return false;
  const bool written = AWrite(file) == 1;
  return std::fclose(file) == 0 && written;
}

// A self-signed certificate for localhost and 127.0.0.1, valid for 30 days, with its key, written
// into a new temporary folder; the certificate's path, or empty when something failed.
std::string MakeCertificate(std::string& VKeyPath) {
  std::string folder = (std::filesystem::temp_directory_path() / "qordemod-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) return {};
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  std::string certPath;
  if (key != nullptr && cert != nullptr) {
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_set_version(cert, 2);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 30L * 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"),
                               -1, -1, 0);
    X509_set_issuer_name(cert, name);
    AddExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1");
    VKeyPath = folder + "/key.pem";
    certPath = folder + "/cert.pem";
    const bool made =
        X509_sign(cert, key, EVP_sha256()) != 0 &&
        WritePem(VKeyPath,
                 [key](FILE* AFile) {
                   return PEM_write_PrivateKey(AFile, key, nullptr, nullptr, 0, nullptr, nullptr);
                 }) &&
        WritePem(certPath, [cert](FILE* AFile) { return PEM_write_X509(AFile, cert); });
    if (!made) certPath.clear();
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  return certPath;
}

}  // namespace

ssl_ctx_st* NewDemoContext(const std::string& ACert, const std::string& AKey, std::string& VMadeCert) {
  std::string cert = ACert;
  std::string key = AKey;
  if (cert.empty() && key.empty()) {
    cert = VMadeCert = MakeCertificate(key);
    if (cert.empty()) {
      std::fprintf(stderr, "qordemod: cannot make a certificate\n");
      return nullptr;
    }
  }
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (context == nullptr || SSL_CTX_use_certificate_chain_file(context, cert.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) != 1) {
    std::fprintf(stderr, "qordemod: cannot use the certificate %s with the key %s\n", cert.c_str(),
                 key.c_str());
    SSL_CTX_free(context);
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  return context;
}

}  // namespace qordemo
