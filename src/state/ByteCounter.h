#pragma once

#include <cstdint>

namespace tarvel {

// Adds a length to one of the byte counters shown to the operator. A sum above 65535 sets the
// counter to 0 (nothing carried over); 65535 itself stays.
inline void AddToByteCounter(int32_t& counter, int64_t length) {
  const int64_t sum = static_cast<int64_t>(counter) + length;
  counter = sum > 65535 ? 0 : static_cast<int32_t>(sum);
}

}  // namespace tarvel
