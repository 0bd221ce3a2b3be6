#pragma once

#include <string>
#include <vector>

namespace qor {
class TIdRUROvoduv;
}

namespace qor::frontend {

// Applies the command-line parameters (the program name excluded) in order: the help option, and
// the host, port and time-out options, each taking the next parameter as its value. Every parameter
// is followed by one blank line. Sets AStop when a help option was given.
void HandleParameters(TIdRUROvoduv& AClient, const std::vector<std::string>& AParameters, bool& AStop);

}  // namespace qor::frontend
