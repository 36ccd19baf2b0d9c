#pragma once

#include <string>

namespace tarvel {

// Why the serial device at a path cannot be opened for reading ("does not exist", "is not a
// character device", "cannot be read by this user (Permission denied)"); empty when it can.
std::string SerialDeviceProblem(const std::string& path);

}  // namespace tarvel
