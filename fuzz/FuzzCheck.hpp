#pragma once

#include <string>

namespace qor::fuzz {

// Reports a failed harness check on standard error and aborts, so that libFuzzer keeps the input.
[[noreturn]] void CheckFailed(const char* AFile, int ALine, const char* ACondition,
                              const std::string& ADetail);

// Shows a byte string with its non-printable bytes escaped, for failure reports.
std::string Escaped(const std::string& ABytes);

}  // namespace qor::fuzz

// Checks a property of the code under test; ADetail (a std::string expression) is only built on failure.
#define FUZZ_CHECK(ACondition, ADetail)                                                    \
  do {                                                                                     \
    if (!(ACondition)) ::qor::fuzz::CheckFailed(__FILE__, __LINE__, #ACondition, ADetail); \
  } while (false)
