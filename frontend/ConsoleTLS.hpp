#pragma once

#include <string>

namespace qor {
class EIdTLSError;
class TIdRUROvoduv;
}  // namespace qor

// TLS for the console: the options that ask for it, the handler they give the client, and the
// lines that report a TLS connect.
namespace qor::frontend {

struct TConsoleTLS {
  bool Enabled = false;   // every connect of the run is made with TLS
  bool NoVerify = false;  // peers are not verified
  std::string CAFile;     // trust this PEM file instead of the system's store
};

// Gives the client a TLS handler (owned by the client) set up as ATLS says.
void UseTLS(TIdRUROvoduv& AClient, const TConsoleTLS& ATLS);

// After a connect: "< TLS ESTABLISHED: " with the version, the cipher and what was verified, when
// the client's connection is a TLS one; nothing otherwise.
void WriteTLSEstablished(TIdRUROvoduv& AClient);

// "< TLS FAILED: " and the reason, upper-cased, on one line.
std::string TLSFailedLine(const EIdTLSError& AError);

}  // namespace qor::frontend
