#pragma once

#include <string>
#include <vector>

#include "platform/ServiceControl.h"

namespace tarvel {

// The service layer on Linux with systemd.
// - Registration: a unit file "TARVEL80ImportForOstrel.service" in /etc/systemd/system (or in
//   $TARVEL80IMPORT_UNIT_DIR), enabled with systemctl where systemd runs. $TARVEL80IMPORT_SYSTEMCTL
//   names another program to run in place of systemctl (tests), and then it is always run.
// - Settings store: "TARVEL80Import.service.ini" in the program folder, replaced atomically.
// - System log: syslog under the service name, "[event number] text".
// - Start: the readiness notification to $NOTIFY_SOCKET (the unit is of Type=notify).
class LinuxServiceControl : public ServiceControl {
 public:
  static constexpr const char* ServiceName = "TARVEL80ImportForOstrel";
  static constexpr const char* ServiceDisplayName = "TARVEL80 Import for Ostrel";
  static constexpr const char* SettingsFileName = "TARVEL80Import.service.ini";
  static constexpr const char* DefaultUnitFolder = "/etc/systemd/system";

  // programPath ends in "/"; executablePath is the absolute path of this program.
  LinuxServiceControl(std::string programPath, std::string executablePath);

  std::string GetSetting(const std::string& section, const std::string& key,
                         const std::string& defaultText) override;
  void SaveSetting(const std::string& section, const std::string& key,
                   const std::string& text) override;
  bool Install() override;
  bool Uninstall() override;
  std::string DisplayName() const override { return ServiceDisplayName; }
  void SetInteractive(bool interactive) override { interactive_ = interactive; }
  void SetControlsAccepted(int controls) override { controlsAccepted_ = controls; }
  void StartService() override;
  void LogEvent(int type, int eventNumber, const std::string& text) override;

  std::string UnitPath() const;
  // The unit file's whole text.
  std::string UnitText() const;
  // Sends one state message ("READY=1") to the service manager; false when there is none
  // or the message could not be sent.
  static bool NotifyServiceManager(const std::string& message);

 private:
  struct Setting {
    std::string Section;
    std::string Key;
    std::string Value;
  };
  std::vector<Setting> LoadSettings() const;
  bool ShouldRunSystemctl() const;
  bool RunSystemctl(const std::vector<std::string>& arguments) const;

  std::string programPath_;
  std::string executablePath_;
  bool interactive_ = true;
  int controlsAccepted_ = 0;
};

}  // namespace tarvel
