#pragma once

#include <string>
#include <vector>

namespace qor {
class TIdRUROvoduv;
}

namespace qor::frontend {

struct TConsoleTLS;

// Applies the command-line parameters (the program name excluded) in order: the help option, and
// the host, port and time-out options, each taking the next parameter as its value. Every parameter
// is followed by one blank line. Sets AStop when a help option was given. The TLS options go into
// VTLS, silently: -TLS, -NOVERIFY, and -CAFILE with the next parameter as the file's path, trimmed
// but not upper-cased (a path is case-sensitive); the latter two imply -TLS.
void HandleParameters(TIdRUROvoduv& AClient, const std::vector<std::string>& AParameters, bool& AStop,
                      TConsoleTLS& VTLS);

}  // namespace qor::frontend
