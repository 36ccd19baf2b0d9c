#pragma once

#include "platform/MessageBox.h"

namespace tarvel {

// The message box without a display: the text, one line, on standard error.
class StandardErrorMessageBox : public MessageBox {
 public:
  void Show(const std::string& text, int style) override;
};

}  // namespace tarvel
