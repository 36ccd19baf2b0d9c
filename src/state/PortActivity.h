#pragma once

#include <cstdint>

namespace tarvel {

// A port's run-time counters, all in one place: the reception resets the silence, the
// supervision tick counts the silence, the reminders and the reconnect countdown.
struct PortActivity {
  int32_t SilenceSeconds = 0;
  int32_t ReminderSeconds = 0;
  // Seconds until a TCP client port that is not connected tries again; 0 at start, so the
  // first attempt comes in the first second.
  int32_t ReconnectCountdown = 0;
};

}  // namespace tarvel
