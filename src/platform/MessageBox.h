#pragma once

#include <string>

namespace tarvel {

// A message to the operator with an OK button, titled "TARVEL80Import". The text always goes
// to standard error as one line; headless, that is all.
class MessageBox {
 public:
  static constexpr int Plain = 0;
  static constexpr int Critical = 16;
  // No box, not even on the desktop: the line on standard error only (warnings, the start line).
  static constexpr int Note = -1;

  virtual ~MessageBox() = default;
  virtual void Show(const std::string& text, int style) = 0;
};

}  // namespace tarvel
