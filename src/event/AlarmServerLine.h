#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "event/Event.h"

namespace tarvel {

// Every line the alarm server receives, each ended by a line feed (no CR). Fields go in as they
// are: nothing is quoted or escaped, and a "|" in a tag or text goes out unchanged.

// "1|2017-06-07|10:20:30|ZONE-12-DOOR||||Door forced open": the state code, the date and time
// (both empty without a stamp), the tag, three empty fields and the text; appended to `out`.
void AppendEventLine(std::string& out, const EventView& event);

// "1|||" and the watchdog tag name: four fields only.
std::string WatchdogLine(std::string_view tagName);

// The gateway's own events about input port `port` (0..7), tagged with its description and
// without a stamp: its silence reached PollFailTimeout, went on for another PollFailRemindTime,
// or ended with a complete line.
Event PortFailedEvent(std::string_view description, int16_t port, int32_t pollFailTimeout);
Event PortStillBadEvent(std::string_view description, int16_t port, int32_t pollFailRemindTime);
Event PortRestoredEvent(std::string_view description, int16_t port);

}  // namespace tarvel
