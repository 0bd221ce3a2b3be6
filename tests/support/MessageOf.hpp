#pragma once

#include <string>

namespace qor::test {

// The message of the error of kind E (of the Exception family) that AAction raises, or
// "<nothing raised>"; an error of another kind passes through.
template <class E, class F>
std::string MessageOf(F&& AAction) {
  try {
    AAction();
  } catch (const E& error) {
    return error.Message();
  }
  return "<nothing raised>";
}

}  // namespace qor::test
