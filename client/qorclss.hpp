#pragma once

#include "qorclnt/client/IdTCPClient.hpp"

namespace qor {

// The console program's client: a TCP client aimed at 127.0.0.1, port 15937.
class TIdRUROvoduv final : public TIdTCPClient {
 public:
  explicit TIdRUROvoduv(TComponent* AOwner);
};

}  // namespace qor
