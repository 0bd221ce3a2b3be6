#pragma once

#include <cstddef>

namespace qor {

// The one loop that hands out every byte of ATotal: AStep(done, left) moves some of the left bytes
// and returns how many (it raises on failure; 0 is allowed when AStep itself decides what a step that
// moved nothing means).
template <class TStep>
void SendWhole(size_t ATotal, TStep AStep) {
  for (size_t done = 0; done < ATotal;) done += AStep(done, ATotal - done);
}

}  // namespace qor
