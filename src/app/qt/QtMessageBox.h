#pragma once

#include "platform/MessageBox.h"

namespace tarvel {

// The message box on the desktop: a modal QMessageBox titled "TARVEL80Import" with an OK
// button; the critical style shows the error icon. The text also goes to standard error.
class QtMessageBox : public MessageBox {
 public:
  void Show(const std::string& text, int style) override;
};

}  // namespace tarvel
