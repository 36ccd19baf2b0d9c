#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "ui/ConnectionListView.h"
#include "ui/DebugListView.h"
#include "ui/MainWindowView.h"
#include "ui/MenuChecks.h"
#include "ui/StatusBarView.h"

namespace tarvel {

// The views without a display: headless and service mode, and the logic's tests. They keep
// what the windows would show, so the logic runs the same way.

class InMemoryConnectionList : public ConnectionListView {
 public:
  struct Row {
    std::string Description;
    std::string SubItems[4];
  };
  int AddRow(const std::string& text) override {
    rows_.push_back(Row{text, {text, "", "", ""}});
    return static_cast<int>(rows_.size()) - 1;
  }
  void SetSubItem(int row, int subItem, const std::string& text) override {
    if (row >= 0 && row < static_cast<int>(rows_.size()) && subItem >= 1 && subItem <= 3)
      rows_[row].SubItems[subItem] = text;
  }
  const std::vector<Row>& Rows() const { return rows_; }

 private:
  std::vector<Row> rows_;
};

class InMemoryStatusBar : public StatusBarView {
 public:
  void SetPanelText(int panel, const std::string& text) override { panels_[panel] = text; }
  std::string PanelText(int panel) const {
    auto found = panels_.find(panel);
    return found == panels_.end() ? std::string() : found->second;
  }

 private:
  std::map<int, std::string> panels_;
};

class InMemoryDebugList : public DebugListView {
 public:
  void AddItem(const std::string& text) override { items_.push_back(text); }
  void RemoveItem(int index) override {
    if (index >= 0 && index < ListCount()) items_.erase(items_.begin() + index);
  }
  int ListCount() const override { return static_cast<int>(items_.size()); }
  std::string Item(int index) const override {
    return index >= 0 && index < ListCount() ? items_[index] : std::string();
  }
  void SetListIndex(int index) override { selected_ = index; }
  void Clear() override { items_.clear(); }
  int SelectedIndex() const { return selected_; }

 private:
  std::deque<std::string> items_;
  int selected_ = -1;
};

class InMemoryMenuChecks : public MenuChecks {
 public:
  bool DebugChecked() const override { return debug_; }
  void SetDebugChecked(bool checked) override { debug_ = checked; }
  bool ShowLastChecked() const override { return showLast_; }
  void SetShowLastChecked(bool checked) override { showLast_ = checked; }

 private:
  bool debug_ = false;
  bool showLast_ = true;
};

class InMemoryMainWindow : public MainWindowView {
 public:
  std::string Caption() const override { return caption_; }
  void SetCaption(const std::string& caption) override { caption_ = caption; }
  void SetExitCaption(const std::string& caption) override { exitCaption_ = caption; }
  void Hide() override { hidden_ = true; }
  const std::string& ExitCaption() const { return exitCaption_; }
  bool Hidden() const { return hidden_; }

 private:
  std::string caption_ = "TARVEL80 Import for Ostrel Alarm Server";
  std::string exitCaption_ = "&Exit";
  bool hidden_ = false;
};

}  // namespace tarvel
