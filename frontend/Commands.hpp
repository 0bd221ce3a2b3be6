#pragma once

#include <string>

namespace qor {
class TIdRUROvoduv;
}

namespace qor::frontend {

// Carries out one line typed at the prompt: trimmed and upper-cased, split at the first space into
// the command word and its argument; a line that is no command is sent to the server as it is.
// Sets AStop for EXIT.
void HandleCommand(TIdRUROvoduv& AClient, const std::string& ALine, bool& AStop);

}  // namespace qor::frontend
