#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/ServiceControl.h"

namespace tarvel {

// A service layer that records every call; Install and Uninstall succeed unless told to fail.
class FakeServiceControl : public ServiceControl {
 public:
  std::string GetSetting(const std::string& section, const std::string& key,
                         const std::string& defaultText) override {
    auto found = settings_.find(section + "/" + key);
    return found == settings_.end() ? defaultText : found->second;
  }
  bool SaveSetting(const std::string& section, const std::string& key,
                   const std::string& text) override {
    calls_.push_back("SaveSetting " + section + "/" + key + "=" + text);
    if (!saves_) return false;
    settings_[section + "/" + key] = text;
    return true;
  }
  std::string LastError() const override { return saves_ ? "" : "read-only folder"; }
  bool Install() override {
    calls_.push_back("Install");
    return succeeds_;
  }
  void FinishInstall(bool keep) override {
    calls_.push_back(std::string("FinishInstall ") + (keep ? "keep" : "undo"));
  }
  bool Uninstall() override {
    calls_.push_back("Uninstall");
    return succeeds_;
  }
  std::string DisplayName() const override { return "TARVEL80 Import for Ostrel"; }
  void SetInteractive(bool interactive) override {
    calls_.push_back(std::string("SetInteractive ") + (interactive ? "true" : "false"));
  }
  void SetControlsAccepted(int controls) override {
    calls_.push_back("SetControlsAccepted " + std::to_string(controls));
  }
  void StartService() override { calls_.push_back("StartService"); }
  void LogEvent(int type, int eventNumber, const std::string& text) override {
    calls_.push_back("LogEvent " + std::to_string(type) + " " + std::to_string(eventNumber) + " " +
                     text);
  }

  // Test controls.
  void Store(const std::string& section, const std::string& key, const std::string& text) {
    settings_[section + "/" + key] = text;
  }
  std::string Stored(const std::string& section, const std::string& key) const {
    auto found = settings_.find(section + "/" + key);
    return found == settings_.end() ? "(none)" : found->second;
  }
  void Fail() { succeeds_ = false; }
  void FailSaving() { saves_ = false; }
  const std::vector<std::string>& Calls() const { return calls_; }

 private:
  std::map<std::string, std::string> settings_;
  bool succeeds_ = true;
  bool saves_ = true;
  std::vector<std::string> calls_;
};

}  // namespace tarvel
