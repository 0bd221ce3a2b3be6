#pragma once

#include <string>

namespace qor::test {

// Certificates for TLS tests, made once per test program with OpenSSL at run time into a temporary
// folder: a test CA, and PEM files signed by it or not. Every server certificate carries the DNS name
// localhost and the IP addresses 127.0.0.1 and ::1 unless its name says otherwise.
struct TestPki {
  std::string CAFile;         // the test CA's certificate
  std::string OtherCAFile;    // a second CA that signed nothing the server shows
  std::string ServerCert;     // localhost, 127.0.0.1, ::1, signed by the test CA
  std::string ServerKey;      // the key of every server certificate
  std::string WrongNameCert;  // only the DNS name wrong.example.invalid
  std::string UnknownCACert;  // signed by a CA nobody trusts
  std::string ExpiredCert;    // ended yesterday
  std::string ClientCert;     // a client certificate of the test CA
  std::string ClientKey;
  std::string OtherKey;   // a key that matches no certificate
  std::string EmptyFile;  // exists, holds nothing

  // The one set of the process, made on first use.
  static const TestPki& Get();
};

}  // namespace qor::test
