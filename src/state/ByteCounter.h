#pragma once

#include <cstdint>

namespace tarvel {

// The byte counts the windows show (a port's "Rx bytes", the alarm server's TxBytes and
// RxBytes) hold at most 65535: an addition that takes one above 65535 sets it to 0, nothing
// carried over; 65535 itself stays. Where it restarts depends on the size of every addition,
// not on the total alone, so each 64-bit total keeps the total at which its shown count last
// restarted, and the window shows the difference.
constexpr uint64_t MaxShownByteCount = 65535;

// Where the shown count starts after one addition has taken the total to total.
constexpr uint64_t ShownCountStart(uint64_t start, uint64_t total) {
  return total - start > MaxShownByteCount ? total : start;
}

// What the window shows of a total whose shown count started at start.
constexpr int32_t ShownByteCount(uint64_t total, uint64_t start) {
  return static_cast<int32_t>(total - start);
}

}  // namespace tarvel
