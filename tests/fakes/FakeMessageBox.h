#pragma once

#include <string>
#include <vector>

#include "platform/MessageBox.h"

namespace tarvel {

// Records every message instead of showing it.
struct FakeMessageBox : MessageBox {
  struct Message {
    std::string Text;
    int Style;
  };
  void Show(const std::string& text, int style) override { Messages.push_back({text, style}); }
  std::vector<Message> Messages;
};

}  // namespace tarvel
