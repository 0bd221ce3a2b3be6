#pragma once

// The byte transfers of the hot paths, made as plain system calls.
//
// The C library's read, write, send and recv are cancellation points: once a process has started a
// second thread (the timed connect does), each call switches asynchronous cancellation on before the
// system call and off after it. Nothing in this system is ever cancelled, so that work buys nothing,
// and on a reply of many short lines it costs a measurable share of the client's time. These make
// the same system calls with the same results: the count, or -1 with errno set.

#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>

namespace qor {

inline ssize_t DirectRead(int AFd, void* ABuffer, size_t ALength) {
  return static_cast<ssize_t>(::syscall(SYS_read, AFd, ABuffer, ALength));
}

inline ssize_t DirectWrite(int AFd, const void* AData, size_t ALength) {
  return static_cast<ssize_t>(::syscall(SYS_write, AFd, AData, ALength));
}

// For the socket stack, the only caller of the system's socket functions.
inline ssize_t DirectSend(int AFd, const void* AData, size_t ALength, int AFlags) {
  return static_cast<ssize_t>(::syscall(SYS_sendto, AFd, AData, ALength, AFlags, nullptr, socklen_t{0}));
}

inline ssize_t DirectReceive(int AFd, void* ABuffer, size_t ALength, int AFlags) {
  return static_cast<ssize_t>(::syscall(SYS_recvfrom, AFd, ABuffer, ALength, AFlags, nullptr, nullptr));
}

}  // namespace qor
