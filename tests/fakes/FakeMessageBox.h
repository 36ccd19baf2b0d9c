#pragma once

#include <string>
#include <vector>

#include "platform/MessageBox.h"

namespace tarvel {

// Records every message instead of showing it.
class FakeMessageBox : public MessageBox {
 public:
  struct Message {
    std::string Text;
    int Style;
  };
  void Show(const std::string& text, int style) override { messages_.push_back({text, style}); }
  const std::vector<Message>& Messages() const { return messages_; }

 private:
  std::vector<Message> messages_;
};

}  // namespace tarvel
