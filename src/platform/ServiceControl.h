#pragma once

#include <string>

namespace tarvel {

// The service layer: registration as a system service, its small settings store, the system
// log, and telling the service manager that the service runs.
class ServiceControl {
 public:
  static constexpr int EventError = 1;
  static constexpr int EventInformation = 4;

  virtual ~ServiceControl() = default;

  // The stored text, or defaultText when nothing is stored.
  virtual std::string GetSetting(const std::string& section, const std::string& key,
                                 const std::string& defaultText) = 0;
  // False when the setting could not be stored; LastError then says why.
  virtual bool SaveSetting(const std::string& section, const std::string& key,
                           const std::string& text) = 0;
  // True only when the registration really succeeded (or was really removed). A successful
  // Install keeps the earlier registration aside until FinishInstall.
  virtual bool Install() = 0;
  // Ends a successful Install. Kept: the earlier registration is dropped. Not kept (a later
  // step of /I failed): the earlier registration is put back, or, when there was none, the new
  // one is disabled and removed.
  virtual void FinishInstall(bool keep) = 0;
  virtual bool Uninstall() = 0;
  // Why the last Install, Uninstall or SaveSetting failed, e.g. "systemctl enable failed (exit
  // status 1)"; empty when it did not fail or the layer cannot tell.
  virtual std::string LastError() const { return {}; }
  virtual std::string DisplayName() const = 0;
  virtual void SetInteractive(bool interactive) = 0;
  virtual void SetControlsAccepted(int controls) = 0;
  // The program runs on as the service: the service manager is told that it is ready.
  virtual void StartService() = 0;
  // An entry in the system log: type EventError or EventInformation, with the event number.
  virtual void LogEvent(int type, int eventNumber, const std::string& text) = 0;
};

}  // namespace tarvel
