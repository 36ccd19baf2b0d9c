#pragma once

namespace tarvel {

// The program's version and title texts as they appear in the log, the captions and the
// service registration.
inline constexpr const char* ProgramVersion = "1.0.04";
inline constexpr const char* ProgramTitle = "TARVEL80 Import for Ostrel Alarm Server";

}  // namespace tarvel
