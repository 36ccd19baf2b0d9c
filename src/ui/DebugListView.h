#pragma once

#include <string>

namespace tarvel {

// The list box of the debug window: rows of text, oldest first.
class DebugListView {
 public:
  virtual ~DebugListView() = default;
  virtual void AddItem(const std::string& text) = 0;
  virtual void RemoveItem(int index) = 0;
  virtual int ListCount() const = 0;
  virtual std::string Item(int index) const = 0;
  // Selects a row and scrolls it into view.
  virtual void SetListIndex(int index) = 0;
  virtual void Clear() = 0;
};

}  // namespace tarvel
