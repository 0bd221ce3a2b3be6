#pragma once

// QOR_SANITIZED is defined in builds instrumented by a sanitizer that intercepts the C library's calls
// (address, thread, memory). Code that makes a system call directly, past the C library, makes it
// through the C library in such a build instead, so that the sanitizer sees the call's buffers.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QOR_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define QOR_SANITIZED 1
#endif
#endif
