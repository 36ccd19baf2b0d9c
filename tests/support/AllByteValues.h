#pragma once

#include <string>

namespace tarvel {

// The 256 byte values in order, for checks that a path carries every one of them unchanged.
inline std::string AllByteValues() {
  std::string bytes;
  for (int code = 0; code < 256; ++code) bytes.push_back(static_cast<char>(code));
  return bytes;
}

}  // namespace tarvel
