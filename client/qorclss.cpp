#include "qorclnt/client/qorclss.hpp"

namespace qor {

TIdRUROvoduv::TIdRUROvoduv(TComponent* AOwner) : TIdTCPClient(AOwner) {
  SetHost("127.0.0.1");
  SetPort(15937);
}

}  // namespace qor
