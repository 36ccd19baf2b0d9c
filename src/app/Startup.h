#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/ConfigCheck.h"
#include "config/ConfigReader.h"
#include "diag/LogFile.h"
#include "platform/MessageBox.h"
#include "platform/ProcessControl.h"
#include "platform/ProgramLayout.h"
#include "platform/ServiceControl.h"
#include "state/Controls.h"
#include "state/ProgramState.h"
#include "text/IniFile.h"
#include "ui/ConnectionListView.h"
#include "ui/MainWindowView.h"

namespace tarvel {

// What start-up needs of the running gateway (the Gateway class, or a fake in tests).
class StartupGateway {
 public:
  virtual ~StartupGateway() = default;
  // Port n's settings, which start-up fills in (the input port keeps them).
  virtual PortEntry& PortSettings(int16_t port) = 0;
  // Opens port n from its ComSetting; false when it did not open, with the reason (device and
  // system message) in reason. Logs nothing.
  virtual bool OpenSerialPort(int16_t port, std::string& reason) = 0;
  // Shows the ports and the alarm-server listener in the main window, once they are set up.
  virtual void ShowStatus() = 0;
  // Takes up the kept lines (KeepLimit, KeepFile); the error text when the keep file must not
  // be used (it is not a keep file), which ends start-up.
  virtual std::string OpenKeptLines() = 0;
};

struct StartupContext {
  ProgramState& State;
  LogFile& Log;
  const Controls& TheControls;
  ConnectionListView& ConnectionList;
  MainWindowView& MainWindow;
  StartupGateway& Ports;
  ServiceControl& Service;
  ProcessControl& Process;
  MessageBox& Messages;
  // Why a serial device cannot be opened, for the configuration check; none: not checked.
  std::function<std::string(const std::string& device)> SerialDeviceProblem = nullptr;
};

// The service flag as the service control's settings store keeps it, or the error that ends
// start-up (and that --check reports) when the stored text is not a number.
struct StoredServiceFlag {
  bool RunAsService = false;
  std::optional<ConfigError> Error;
};
StoredServiceFlag ReadStoredServiceFlag(ServiceControl& service);

// What the caller does once start-up has returned: run the event loop, or end the process
// with the exit status. Nothing inside start-up ends the process itself.
struct StartupOutcome {
  static constexpr int ExitSuccess = 0;
  static constexpr int ExitFailure = 1;

  bool KeepRunning = true;
  int ExitStatus = ExitSuccess;

  static StartupOutcome Run() { return {true, ExitSuccess}; }
  static StartupOutcome Exit(int status) { return {false, status}; }
};

// The load handler of the main window: settles the program folder, reads the service flag,
// refuses a second running copy, carries out /U or /I, reads the configuration, writes the
// start lines, opens the alarm-server listener and ports 0 to 7 in order, and in service mode
// tells the service manager that the service runs. The configuration check's warnings go to the
// log and to standard error; its errors end start-up like a wrong port configuration. Once
// everything is open, one line tells where the gateway listens, what it has opened, where it
// logs and how it is stopped.
class Startup {
 public:
  static constexpr const char* ServiceSection = "Parameters";
  static constexpr const char* ServiceKey = "RunAsService";
  static constexpr int ControlsAcceptedStopAndShutdown = 5;
  static constexpr int EventStartupFailed = 109;
  static constexpr int EventStarted = 110;

  explicit Startup(const StartupContext& context) : context_(context) {}

  // The layout's folders may come with or without a trailing "/". A log folder that cannot be
  // made is said on standard error, and the gateway runs on without its log.
  StartupOutcome FormLoad(const ProgramLayout& layout, bool install, bool uninstall);

 private:
  std::optional<StartupOutcome> ReadRunAsService();
  StartupOutcome ChangeServiceRegistration(bool install);
  void OpenOstrelListener();
  std::optional<StartupOutcome> SetUpPort(int16_t port, const IniFile& ini,
                                          const std::vector<ConfigFinding>& findings);
  std::optional<StartupOutcome> SetUpTcpServer(int16_t port);
  std::optional<StartupOutcome> SetUpTcpClient(int16_t port);
  std::optional<StartupOutcome> SetUpSerial(int16_t port);
  void AddRow(int16_t port, PortKind kind);
  // Event log (service) or critical message box (desktop), then the log line; the process
  // is to end with a failure status.
  StartupOutcome Fail(const std::string& eventText, const std::string& boxText,
                      const std::string& logText);
  StartupOutcome FailConfiguration(const ConfigError& error);
  StartupOutcome FailBadPort(int16_t port, const std::string& reason);
  // Writes the line to the log and to standard error; the terminal may be told more (a reason
  // that the log has on a line of its own).
  void Announce(const std::string& text, const std::string& terminalText = "");
  // The line that tells where the gateway runs; with the listener's failure reason, if any.
  std::string RunningText(bool withReason) const;

  StartupContext context_;
  std::string ostrelListenError_;  // why the alarm-server listener failed; empty when it did not
};

}  // namespace tarvel
