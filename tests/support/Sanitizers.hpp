#pragma once

namespace qor::test {

// Whether this build runs under AddressSanitizer or ThreadSanitizer, which slow every call down.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool SanitizedBuild = true;
#else
inline constexpr bool SanitizedBuild = false;
#endif

// A round count for a long loop: AFull in a plain build, AFull / ADivisor under a sanitizer.
constexpr int ScaledCount(int AFull, int ADivisor) {
  return SanitizedBuild ? AFull / ADivisor : AFull;
}

}  // namespace qor::test
