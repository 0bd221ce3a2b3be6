#pragma once

#include <string>

struct ssl_ctx_st;

// TLS for the demo server.
namespace qordemo {

// A server context with the certificate chain ACert and key AKey (PEM files); when both are empty,
// with a certificate for localhost and 127.0.0.1 signed by itself, made now and written with its key
// into a new folder under the system's temporary folder, VMadeCert then naming the certificate (a
// client trusts it with -CAFILE). Null, with the reason on standard error, when that fails.
ssl_ctx_st* NewDemoContext(const std::string& ACert, const std::string& AKey, std::string& VMadeCert);

}  // namespace qordemo
