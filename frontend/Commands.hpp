#pragma once

#include <string>

#include "qorclnt/runtime/Exception.hpp"

namespace qor {
class TIdRUROvoduv;
}

namespace qor::frontend {

// Raised while a command waits, when the operator cancels it. The commands pass it on untouched (it
// is no failed connect and no end of a reply) to the caller of HandleCommand.
QOR_ERROR_KIND(ECommandCancelled, Exception);

// Carries out one line typed at the prompt: trimmed and upper-cased, split at the first space into
// the command word and its argument; a line that is no command is sent to the server as it is.
// Sets AStop for EXIT.
void HandleCommand(TIdRUROvoduv& AClient, const std::string& ALine, bool& AStop);

// Disconnects the client if it is connected; an error on the way is ignored.
void DisconnectQuietly(TIdRUROvoduv& AClient) noexcept;

}  // namespace qor::frontend
