#pragma once

#include <poll.h>

#include <chrono>
#include <optional>
#include <span>

namespace qor {

using TPollClock = std::chrono::steady_clock;

// Polls AEntries until one of them is ready, poll fails for another reason than a signal, or
// ADeadline has passed (no deadline: no limit). A signal resumes the wait with the time that is
// left. Returns what the last poll returned: the number of ready entries, 0 at the deadline, or -1
// with errno set.
int PollUntil(std::span<pollfd> AEntries, std::optional<TPollClock::time_point> ADeadline);

}  // namespace qor
