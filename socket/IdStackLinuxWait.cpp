// WaitForSockets of the Linux stack. It waits with poll, so that any descriptor can be watched, and
// reports what select would: a descriptor counts once for each list it is ready in.
#include "qorclnt/socket/IdStackLinux.hpp"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory_resource>
#include <optional>
#include <span>
#include <vector>

#include "qorclnt/connection/IdGlobal.hpp"
#include "qorclnt/errors/IdException.hpp"
#include "qorclnt/errors/IdResourceStrings.hpp"
#include "qorclnt/socket/IdStackLinuxPoll.hpp"

namespace qor {

namespace {

// The lists of a wait, and for each the poll events that make a descriptor ready in it: those that
// select looks at. They are also what is asked for (hang-up and error are reported anyway).
enum TWaitList : uint8_t { wlRead, wlWrite, wlError };
constexpr short ReadyEvents[] = {POLLIN | POLLRDNORM | POLLRDBAND | POLLHUP | POLLERR,
                                 POLLOUT | POLLWRNORM | POLLWRBAND | POLLERR, POLLPRI};

// The descriptors of a wait in ascending order, each with the lists it appears in.
class TWaitSet {
 public:
  explicit TWaitSet(std::pmr::memory_resource* AMemory)
      : FEntries(AMemory), FPoll(AMemory), FLists(AMemory), FHandles(AMemory) {}

  // False when a list holds a negative descriptor.
  bool Add(const TIdSocketDescriptors* AList, TWaitList AKind) {
    if (AList == nullptr) return true;
    for (const TIdStackSocketHandle handle : *AList) {
      if (handle < 0) return false;
      FEntries.push_back({handle, AKind});
    }
    return true;
  }

  // Merges the entries into one poll record per descriptor.
  void Prepare() {
    std::sort(FEntries.begin(), FEntries.end(),
              [](const TEntry& A, const TEntry& B) { return A.Handle < B.Handle; });
    for (const TEntry& entry : FEntries) {
      if (FPoll.empty() || FPoll.back().fd != entry.Handle) {
        FPoll.push_back({entry.Handle, 0, 0});
        FLists.push_back(0);
      }
      FPoll.back().events = static_cast<short>(FPoll.back().events | ReadyEvents[entry.Kind]);
      FLists.back() = static_cast<uint8_t>(FLists.back() | (1u << entry.Kind));
    }
    FHandles.reserve(FPoll.size());
    for (const pollfd& record : FPoll) FHandles.push_back(record.fd);
  }

  // Polls until something is ready or ADeadline has passed; the result of PollUntil.
  int Poll(std::optional<TPollClock::time_point> ADeadline) { return PollUntil(FPoll, ADeadline); }

  bool HasInvalid() const {
    return std::any_of(FPoll.begin(), FPoll.end(),
                       [](const pollfd& A) { return (A.revents & POLLNVAL) != 0; });
  }

  bool IsReady(size_t AIndex, TWaitList AKind) const {
    return (FLists[AIndex] & (1u << AKind)) != 0 && (FPoll[AIndex].revents & ReadyEvents[AKind]) != 0;
  }

  // The number of (descriptor, list) pairs that are ready. A descriptor that poll reports for a
  // condition that none of its lists looks at (a hang-up on one only watched for writing) stays so;
  // it leaves the wait, as select would never report it.
  int32_t CountReady() {
    int32_t count = 0;
    for (size_t i = 0; i < FPoll.size(); ++i) {
      const int32_t ready = IsReady(i, wlRead) + IsReady(i, wlWrite) + IsReady(i, wlError);
      if (ready == 0 && FPoll[i].revents != 0) FPoll[i].fd = -1;
      count += ready;
    }
    return count;
  }

  // Refills AList with its ready descriptors in ascending order.
  void Refill(TIdSocketDescriptors* AList, TWaitList AKind) const {
    if (AList == nullptr) return;
    AList->clear();
    for (size_t i = 0; i < FPoll.size(); ++i) {
      if (IsReady(i, AKind)) AList->push_back(FHandles[i]);
    }
  }

 private:
  struct TEntry {
    TIdStackSocketHandle Handle;
    TWaitList Kind;
  };
  std::pmr::vector<TEntry> FEntries;
  std::pmr::vector<pollfd> FPoll;
  std::pmr::vector<uint8_t> FLists;                 // bit n: the descriptor is in list n
  std::pmr::vector<TIdStackSocketHandle> FHandles;  // the descriptor of each poll record
};

}  // namespace

int PollUntil(std::span<pollfd> AEntries, std::optional<TPollClock::time_point> ADeadline) {
  for (;;) {
    int wait = -1;
    if (ADeadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*ADeadline - TPollClock::now()).count();
      wait = static_cast<int>(std::max<decltype(left)>(left, 0));
    }
    const int result = ::poll(AEntries.data(), AEntries.size(), wait);
    if (result != -1 || errno != EINTR) return result;
  }
}

int32_t TIdStackLinux::WaitForSockets(TIdSocketDescriptors* AReadList, TIdSocketDescriptors* AWriteList,
                                      TIdSocketDescriptors* AErrorList, int32_t ATimeout) {
  TIdSocketDescriptors* const lists[] = {AReadList, AWriteList, AErrorList};
  for (const TIdSocketDescriptors* list : lists) {
    if (list != nullptr && list->size() > IdMaxSetSize) Raise(EIdSetSizeExceeded(RSSetSizeExceeded));
  }
  // A wait mostly watches one descriptor or a few (one before a receive): their records live in
  // a block on the stack, and only a larger set takes memory from the heap.
  std::array<std::byte, 512> block;
  std::pmr::monotonic_buffer_resource memory(block.data(), block.size());
  TWaitSet set(&memory);
  const auto report = [&lists, &set](int32_t AResult) {
    for (size_t kind = 0; kind < std::size(lists); ++kind)
      set.Refill(lists[kind], static_cast<TWaitList>(kind));
    return AResult;
  };
  const auto fail = [&lists](int AError) {
    for (TIdSocketDescriptors* list : lists) {
      if (list != nullptr) list->clear();  // after a failure no descriptor is known to be ready
    }
    errno = AError;
    return -1;
  };

  for (size_t kind = 0; kind < std::size(lists); ++kind) {
    if (!set.Add(lists[kind], static_cast<TWaitList>(kind))) return fail(EBADF);
  }
  const TIdWait wait = TIdWait::Of(ATimeout);
  if (!wait.IsAllowed()) return fail(EINVAL);  // as select refuses a negative time
  set.Prepare();

  const TIdDeadline deadline(wait);
  for (;;) {
    const int result = set.Poll(deadline.End());
    if (result == -1) return fail(errno);
    if (result == 0) return report(0);
    if (set.HasInvalid()) return fail(EBADF);
    if (const int32_t ready = set.CountReady(); ready > 0) return report(ready);
  }
}

}  // namespace qor
