#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace qor::test {

// Resource figures of processes and threads, for tests that bound what the client uses.

// CPU time (user and system, of every thread, ended ones included) that process APid has used so
// far, from /proc/<pid>/stat: clock-tick resolution (10 ms). -1 ms when it cannot be read.
std::chrono::milliseconds ProcessCpuTime(pid_t APid);

// The peak resident set size (VmHWM) of process APid in KiB; -1 when it cannot be read.
int64_t PeakResidentKiB(pid_t APid);

// Open descriptors of this process or of process APid (the entries of /proc/<pid>/fd, not counting
// the one that lists them).
size_t OpenDescriptorCount();
size_t OpenDescriptorCount(pid_t APid);

// Threads of this process or of process APid (the entries of /proc/<pid>/task).
size_t ThreadCount();
size_t ThreadCount(pid_t APid);

// CPU time used so far by the calling thread, or by the whole process (every thread).
std::chrono::microseconds ThreadCpuTime();
std::chrono::microseconds SelfCpuTime();

}  // namespace qor::test
