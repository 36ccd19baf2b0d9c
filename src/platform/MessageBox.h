#pragma once

#include <string>

namespace tarvel {

// A message to the operator with an OK button, titled "TARVEL80Import". Headless, the text
// goes to standard error instead.
class MessageBox {
 public:
  static constexpr int Plain = 0;
  static constexpr int Critical = 16;

  virtual ~MessageBox() = default;
  virtual void Show(const std::string& text, int style) = 0;
};

}  // namespace tarvel
