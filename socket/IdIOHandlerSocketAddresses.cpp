// The address loop of a socket I/O handler's connect: every address of the host in turn, within
// the one time-out.
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <string>
#include <vector>

#include "qorclnt/connection/IdAntiFreezeBase.hpp"
#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/socket/IdIOHandlerSocket.hpp"
#include "qorclnt/socket/IdStackAddress.hpp"

namespace qor {

namespace {

// The addresses that a socket bound to ABoundIP can reach: all of them when no IP is bound, else
// those of its family; none is EIdSocketError "Address family not supported".
std::vector<std::string> ReachableAddresses(const std::vector<std::string>& AAddresses,
                                            const std::string& ABoundIP) {
  if (ABoundIP.empty()) return AAddresses;
  std::vector<std::string> result;
  std::copy_if(AAddresses.begin(), AAddresses.end(), std::back_inserter(result),
               [family = FamilyOfText(ABoundIP)](const std::string& AAddress) {
                 return FamilyOfText(AAddress) == family;
               });
  if (result.empty()) CurrentStack->RaiseErrorCode(EAFNOSUPPORT);
  return result;
}

}  // namespace

void TIdIOHandlerSocket::ConnectToAddresses(const std::vector<std::string>& AAddresses, int32_t APort,
                                            const TLocalEnd& ALocal, std::optional<TIdWait> AWait) {
  const std::vector<std::string> addresses = ReachableAddresses(AAddresses, ALocal.IP);
  // An untimed connect blocks on this thread, unless idle processing needs it to run on a worker
  // with a limit.
  const bool direct = !AWait && !TIdAntiFreezeBase::ShouldProcessIdle();
  const TIdDeadline deadline(AWait.value_or(TIdWait::Of(DefaultConnectLimitMs)));

  for (size_t index = 0; index < addresses.size(); ++index) {
    const std::string& address = addresses[index];
    if (index > 0 || FamilyOfText(address) != FSocket->Family()) PrepareSocket(FamilyOfText(address), ALocal);
    FSocket->SetRemote(address, APort);
    if (!FUseNagle) {
      const int32_t noDelay = 1;
      FSocket->SetOption(IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    }
    NotifyStatus(hsConnecting, {FSocket->RemoteIP()});

    // Each attempt gets what is left of the time (at least 1 ms, so that it still means a limit).
    const TIdWait left = deadline.Left().AtLeast(1);
    try {
      if (direct) {
        const int32_t result = FSocket->ConnectToPeer(FSocket->Family());
        CheckAborted();
        CurrentStack->CheckSocketResult(result);
      } else {
        ConnectWithTimeout(left);
      }
      return;
    } catch (const EIdSocketError&) {
      if (index + 1 == addresses.size()) throw;
    } catch (const EIdConnectException&) {
      if (index + 1 == addresses.size()) throw;
    }
    // A time-out ends the whole connect (it raises EIdConnectTimeout, which is not caught above);
    // a failure moves on to the next address at once.
  }
}

}  // namespace qor
