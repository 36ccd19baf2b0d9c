#pragma once

#include <string>

namespace tarvel {

// What start-up does to the main window itself.
class MainWindowView {
 public:
  virtual ~MainWindowView() = default;
  virtual std::string Caption() const = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetExitCaption(const std::string& caption) = 0;
  virtual void Hide() = 0;
};

}  // namespace tarvel
