#pragma once

namespace tarvel {

// The check marks of the two menu entries the logic reads: "&Debug" on the main window (the
// only switch of the traffic trace) and "&Always show last row" on the debug window.
class MenuChecks {
 public:
  virtual ~MenuChecks() = default;
  virtual bool DebugChecked() const = 0;
  virtual void SetDebugChecked(bool checked) = 0;
  virtual bool ShowLastChecked() const = 0;
  virtual void SetShowLastChecked(bool checked) = 0;
};

}  // namespace tarvel
