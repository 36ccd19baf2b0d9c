#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/ServiceControl.h"

namespace tarvel {

// A service layer that records every call; Install and Uninstall succeed unless told to fail.
class FakeServiceControl : public ServiceControl {
 public:
  std::string GetSetting(const std::string& section, const std::string& key,
                         const std::string& defaultText) override {
    auto found = Settings.find(section + "/" + key);
    return found == Settings.end() ? defaultText : found->second;
  }
  bool SaveSetting(const std::string& section, const std::string& key,
                   const std::string& text) override {
    Calls.push_back("SaveSetting " + section + "/" + key + "=" + text);
    if (Saves) Settings[section + "/" + key] = text;
    return Saves;
  }
  std::string LastError() const override { return Saves ? "" : "read-only folder"; }
  bool Install() override { return Record("Install", Succeeds); }
  void FinishInstall(bool keep) override {
    Record(keep ? "FinishInstall keep" : "FinishInstall undo");
  }
  bool Uninstall() override { return Record("Uninstall", Succeeds); }
  std::string DisplayName() const override { return "TARVEL80 Import for Ostrel"; }
  void SetInteractive(bool interactive) override {
    Record(interactive ? "SetInteractive true" : "SetInteractive false");
  }
  void SetControlsAccepted(int controls) override {
    Record("SetControlsAccepted " + std::to_string(controls));
  }
  void StartService() override { Record("StartService"); }
  void LogEvent(int type, int eventNumber, const std::string& text) override {
    Record("LogEvent " + std::to_string(type) + " " + std::to_string(eventNumber) + " " + text);
  }

  std::map<std::string, std::string> Settings;  // by "section/key"
  bool Succeeds = true;                         // of Install and Uninstall
  bool Saves = true;
  std::vector<std::string> Calls;

 private:
  bool Record(const std::string& call, bool result = true) {
    Calls.push_back(call);
    return result;
  }
};

}  // namespace tarvel
