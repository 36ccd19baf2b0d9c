#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/ProgramLayout.h"
#include "platform/ServiceControl.h"

namespace tarvel {

// The service layer on Linux with systemd.
// - Registration: a unit file "TARVEL80ImportForOstrel.service" in /etc/systemd/system (or in
//   $TARVEL80IMPORT_UNIT_DIR), enabled with systemctl where systemd runs. $TARVEL80IMPORT_SYSTEMCTL
//   names another program to run in place of systemctl (tests), and then it is always run.
// - The unit runs the program on the same layout (program folder, configuration, log folder),
//   confines it (read-only system and home, private /tmp, no privilege gain) and leaves it
//   write access to the program folder and the log folder only. $TARVEL80IMPORT_SERVICE_USER at
//   install time names an existing account to run as (with the group dialout for serial
//   lines); the files the program made in its folder as root are then handed over to it.
// - Settings store: "TARVEL80Import.service.ini" in the program folder, replaced atomically.
// - System log: syslog under the service name, "[event number] text".
// - Start: the readiness notification to $NOTIFY_SOCKET (the unit is of Type=notify), through
//   libsystemd, as are the status line and the watchdog's signs of life (WatchdogSec=).
class LinuxServiceControl : public ServiceControl {
 public:
  static constexpr const char* ServiceName = "TARVEL80ImportForOstrel";
  static constexpr const char* ServiceDisplayName = "TARVEL80 Import for Ostrel";
  static constexpr const char* SettingsFileName = ProgramLayout::ServiceSettingsFileName;
  static constexpr const char* DefaultUnitFolder = "/etc/systemd/system";
  static constexpr const char* ServiceUserVariable = "TARVEL80IMPORT_SERVICE_USER";
  static constexpr const char* SerialGroup = "dialout";
  // The unit's WatchdogSec=: the event loop sends its sign of life every second.
  static constexpr int WatchdogSeconds = 30;
  // The store holds one short setting; anything longer is not ours and is read no further.
  static constexpr size_t SettingsMaxBytes = 64 * 1024;

  // executablePath is the absolute path of this program.
  LinuxServiceControl(ProgramLayout layout, std::string executablePath);

  std::string GetSetting(const std::string& section, const std::string& key,
                         const std::string& defaultText) override;
  bool SaveSetting(const std::string& section, const std::string& key,
                   const std::string& text) override;
  // The earlier unit file is renamed aside (AsideUnitPath) before the new one is written, and
  // put back when the registration fails.
  bool Install() override;
  void FinishInstall(bool keep) override;
  bool Uninstall() override;
  std::string LastError() const override { return lastError_; }
  std::string DisplayName() const override { return ServiceDisplayName; }
  void SetInteractive(bool interactive) override { interactive_ = interactive; }
  void SetControlsAccepted(int controls) override { controlsAccepted_ = controls; }
  void StartService() override;
  void LogEvent(int type, int eventNumber, const std::string& text) override;

  std::string UnitPath() const;
  // Where Install keeps the earlier unit file: hidden in the unit folder, without a unit suffix,
  // so that systemd never loads it.
  std::string AsideUnitPath() const;
  // The unit file's whole text, for the account named in $TARVEL80IMPORT_SERVICE_USER (root
  // when it is unset or empty).
  std::string UnitText() const;
  // Whether the text can be a user name in a unit file: letters, digits, "_", "." and "-", not
  // starting with "-" or ".", at most 32 characters.
  static bool IsUserName(const std::string& name);
  // Why the path cannot be written into a unit file, or empty when it can: a control
  // character could start a setting of its own, and systemd rejects a unit that is not UTF-8.
  // "what" names the path in the reason.
  static std::string UnitUnsafeReason(const std::string& what, const std::string& path);
  // Sends one state message ("READY=1", "STATUS=...", "WATCHDOG=1") to the service manager
  // through libsystemd; false when there is none or the message could not be sent.
  static bool NotifyServiceManager(const std::string& message);

 private:
  struct Setting {
    std::string Section;
    std::string Key;
    std::string Value;
  };
  std::vector<Setting> LoadSettings() const;
  bool ShouldRunSystemctl() const;
  // Runs systemctl; on failure lastError_ says how it failed.
  bool RunSystemctl(const std::vector<std::string>& arguments) const;
  bool HandOverTo(const std::string& user) const;
  // Puts the earlier unit back (or removes the new one and disables it) and reloads systemd;
  // lastError_ keeps the reason of the failure that led here.
  void UndoInstall();
  // Keeps the reason for LastError(); always false.
  bool Fail(const std::string& reason);

  ProgramLayout layout_;
  std::string executablePath_;
  bool interactive_ = true;
  int controlsAccepted_ = 0;
  bool earlierUnitAside_ = false;  // Install renamed an earlier unit file to AsideUnitPath()
  mutable std::string lastError_;
};

}  // namespace tarvel
