#include "support/TestPki.hpp"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "support/ProxyDaemon.hpp"

namespace qor::test {

namespace {

struct TKeyFree {
  void operator()(EVP_PKEY* AKey) const noexcept { EVP_PKEY_free(AKey); }
};
struct TCertFree {
  void operator()(X509* ACert) const noexcept { X509_free(ACert); }
};
using TKey = std::unique_ptr<EVP_PKEY, TKeyFree>;
using TCert = std::unique_ptr<X509, TCertFree>;

TKey NewKey() {
  TKey key(EVP_EC_gen("P-256"));
  if (!key) throw std::runtime_error("EC key generation failed");
  return key;
}

void AddExtension(X509* ACert, X509* AIssuer, int ANid, const std::string& AValue) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, AIssuer, ACert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, ANid, AValue.c_str());
  if (extension == nullptr) throw std::runtime_error("bad certificate extension " + AValue);
  X509_add_ext(ACert, extension, -1);
  X509_EXTENSION_free(extension);
}

struct TCertSpec {
  std::string CommonName;
  std::string SubjectAltName;  // empty: none
  long FromDays = -1;          // validity, in days from now
  long ToDays = 365;
  bool IsCA = false;
  bool Client = false;
};

// A certificate for AKey signed by AIssuer's key (self-signed when AIssuer is null).
TCert MakeCert(const TCertSpec& ASpec, EVP_PKEY* AKey, X509* AIssuer, EVP_PKEY* AIssuerKey) {
  static long serial = 1;
  TCert cert(X509_new());
  X509* const c = cert.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), serial++);
  X509_gmtime_adj(X509_getm_notBefore(c), ASpec.FromDays * 86400);
  X509_gmtime_adj(X509_getm_notAfter(c), ASpec.ToDays * 86400);
  X509_set_pubkey(c, AKey);
  X509_NAME* const name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(ASpec.CommonName.c_str()), -1, -1, 0);
  X509* const issuer = AIssuer != nullptr ? AIssuer : c;
  X509_set_issuer_name(c, X509_get_subject_name(issuer));
  if (ASpec.IsCA) {
    AddExtension(c, issuer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(c, issuer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(c, issuer, NID_basic_constraints, "CA:FALSE");
    AddExtension(c, issuer, NID_ext_key_usage, ASpec.Client ? "clientAuth" : "serverAuth");
  }
  AddExtension(c, issuer, NID_subject_key_identifier, "hash");
  if (!ASpec.SubjectAltName.empty()) AddExtension(c, issuer, NID_subject_alt_name, ASpec.SubjectAltName);
  if (X509_sign(c, AIssuerKey != nullptr ? AIssuerKey : AKey, EVP_sha256()) == 0) {
    throw std::runtime_error("signing failed");
  }
  return cert;
}

template <class TWrite>
std::string Save(const TempDir& ADir, const std::string& AName, TWrite AWrite) {
  const std::string path = (ADir.Path() / AName).string();
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr || AWrite(file) != 1) throw std::runtime_error("cannot write " + path);
  std::fclose(file);
  return path;
}

std::string SaveCert(const TempDir& ADir, const std::string& AName, X509* ACert) {
  return Save(ADir, AName, [ACert](FILE* AFile) { return PEM_write_X509(AFile, ACert); });
}

std::string SaveKey(const TempDir& ADir, const std::string& AName, EVP_PKEY* AKey) {
  return Save(ADir, AName, [AKey](FILE* AFile) {
    return PEM_write_PrivateKey(AFile, AKey, nullptr, nullptr, 0, nullptr, nullptr);
  });
}

TestPki Make(const TempDir& ADir) {
  const std::string loopback = "DNS:localhost,IP:127.0.0.1,IP:::1";
  const TKey caKey = NewKey(), otherCAKey = NewKey(), serverKey = NewKey(), clientKey = NewKey(),
             otherKey = NewKey();
  const TCert ca = MakeCert({"qorclnt test CA", "", -1, 3650, true, false}, caKey.get(), nullptr, nullptr);
  const TCert otherCA =
      MakeCert({"qorclnt other CA", "", -1, 3650, true, false}, otherCAKey.get(), nullptr, nullptr);
  TestPki pki;
  pki.CAFile = SaveCert(ADir, "ca.pem", ca.get());
  pki.OtherCAFile = SaveCert(ADir, "other-ca.pem", otherCA.get());
  pki.ServerKey = SaveKey(ADir, "server.key", serverKey.get());
  pki.ServerCert = SaveCert(ADir, "server.pem",
                            MakeCert({"localhost", loopback}, serverKey.get(), ca.get(), caKey.get()).get());
  pki.WrongNameCert = SaveCert(
      ADir, "wrong-name.pem",
      MakeCert({"wrong.example.invalid", "DNS:wrong.example.invalid"}, serverKey.get(), ca.get(), caKey.get())
          .get());
  pki.UnknownCACert =
      SaveCert(ADir, "unknown-ca.pem",
               MakeCert({"localhost", loopback}, serverKey.get(), otherCA.get(), otherCAKey.get()).get());
  pki.ExpiredCert =
      SaveCert(ADir, "expired.pem",
               MakeCert({"localhost", loopback, -30, -1}, serverKey.get(), ca.get(), caKey.get()).get());
  pki.ClientKey = SaveKey(ADir, "client.key", clientKey.get());
  pki.ClientCert = SaveCert(
      ADir, "client.pem",
      MakeCert({"qorclnt test client", "", -1, 365, false, true}, clientKey.get(), ca.get(), caKey.get())
          .get());
  pki.OtherKey = SaveKey(ADir, "other.key", otherKey.get());
  pki.EmptyFile = ADir.WriteFile("empty.pem", "");
  return pki;
}

}  // namespace

const TestPki& TestPki::Get() {
  static const TempDir dir;
  static const TestPki pki = Make(dir);
  return pki;
}

}  // namespace qor::test
