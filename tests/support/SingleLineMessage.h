#pragma once

#include <string>

namespace tarvel {

// "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open": the tag padded to 18.
inline std::string Message(const std::string& type, const std::string& date = "07-06-2017",
                           const std::string& tag = "ZONE-12-DOOR",
                           const std::string& text = "Door forced open") {
  return type + " " + date + " 10:20:30 " + tag + std::string(18 - tag.size(), ' ') + text;
}

// The event line that Message("ALARM") becomes.
inline const std::string AlarmLine = "1|2017-06-07|10:20:30|ZONE-12-DOOR||||Door forced open\n";

}  // namespace tarvel
