#include "app/Startup.h"

#include <string_view>

#include "app/ConfigCheckCommand.h"
#include "app/Version.h"
#include "diag/PeerText.h"

namespace tarvel {

namespace {

constexpr const char* AlreadyStartedText =
    "TARVEL80 Import for Ostrel Alarm Server is already started!";

std::string PortText(int16_t port) {
  return std::to_string(port);
}

}  // namespace

StartupOutcome Startup::FormLoad(const ProgramLayout& layout, bool install, bool uninstall) {
  ProgramState& state = context_.State;
  state.ProgramPath = ProgramLayout::AsFolder(layout.ProgramPath);
  state.LogPath = ProgramLayout::AsFolder(layout.LogPath);
  context_.Log.SetFolder(state.LogPath);
  if (const std::string problem = context_.Process.CreateFolder(state.LogPath); !problem.empty()) {
    context_.Messages.Show("the log folder " + state.LogPath + " is missing and cannot be made (" +
                               problem + "); the gateway runs without its log",
                           MessageBox::Note);
  }

  if (auto failed = ReadRunAsService()) return *failed;

  // The running copy is checked before the switches: /U beside a running copy uninstalls nothing.
  std::string lockRefusal;
  if (!context_.Process.TakeRunningCopyLock(state.ProgramPath, lockRefusal)) {
    if (!lockRefusal.empty()) return Fail(lockRefusal, lockRefusal, lockRefusal);
    if (!state.RunAsService) context_.Messages.Show(AlreadyStartedText, MessageBox::Critical);
    return StartupOutcome::Exit(StartupOutcome::ExitFailure);
  }
  if (uninstall) return ChangeServiceRegistration(false);
  if (install) return ChangeServiceRegistration(true);

  const std::string& iniPath = layout.ConfigPath;
  std::string readProblem;
  const IniFile ini = IniFile::Load(iniPath, readProblem);
  const std::vector<ConfigFinding> findings =
      CheckConfiguration(ini, ConfigCheckInput{iniPath, readProblem, context_.SerialDeviceProblem,
                                               state.ProgramPath, ProgramOwnFiles()});
  if (!readProblem.empty()) {
    const std::string text = findings.front().Text;
    return Fail(text, text, text);
  }
  if (auto error = ReadGeneralSettings(ini, state.General)) return FailConfiguration(*error);
  // The errors of the file and [General] beyond the readers' own (a KeepFile that would
  // overwrite one of the program's files).
  for (const ConfigFinding& finding : findings) {
    if (finding.IsError && finding.Port < 0) return Fail(finding.Text, finding.Text, finding.Text);
  }

  context_.Log.WriteLog(std::string(80, '-'), LogFile::Importance::Essential);
  context_.Log.WriteLog(
      std::string("TARVEL80 Import for Ostrel is starting, version ") + ProgramVersion,
      LogFile::Importance::Essential);
  for (const ConfigFinding& finding : findings) {
    if (!finding.IsError) Announce(finding.Text);
  }
  if (const std::string refusal = context_.Ports.OpenKeptLines(); !refusal.empty())
    return Fail(refusal, refusal, refusal);
  OpenOstrelListener();

  for (int16_t port = 0; port < PortCount; ++port) {
    if (auto failed = SetUpPort(port, ini, findings)) return *failed;
  }
  context_.Ports.ShowStatus();
  context_.MainWindow.SetExitCaption("&Exit\tAlt+F4");
  Announce(RunningText(false), RunningText(true));

  if (state.RunAsService) {
    context_.Service.SetControlsAccepted(ControlsAcceptedStopAndShutdown);
    context_.Service.StartService();
    context_.Service.LogEvent(ServiceControl::EventInformation, EventStarted,
                              "TARVEL80 Import for Ostrel Alarm Server started");
    context_.MainWindow.Hide();
  }
  context_.MainWindow.SetCaption(context_.MainWindow.Caption() + " - Version " + ProgramVersion);
  return StartupOutcome::Run();
}

StoredServiceFlag ReadStoredServiceFlag(ServiceControl& service) {
  const std::string stored = service.GetSetting(Startup::ServiceSection, Startup::ServiceKey, "0");
  if (const std::optional<bool> value = RunAsServiceValue(stored)) return {*value, std::nullopt};
  return {false, ConfigError{Startup::ServiceSection, Startup::ServiceKey, stored}};
}

std::optional<StartupOutcome> Startup::ReadRunAsService() {
  const StoredServiceFlag flag = ReadStoredServiceFlag(context_.Service);
  if (flag.Error) {
    // Which mode applies is exactly what cannot be read: report both ways.
    const std::string text = flag.Error->Text();
    context_.Service.LogEvent(ServiceControl::EventError, EventStartupFailed, text);
    context_.Messages.Show(text, MessageBox::Critical);
    context_.Log.WriteLog(text, LogFile::Importance::Essential);
    return StartupOutcome::Exit(StartupOutcome::ExitFailure);
  }
  context_.State.RunAsService = flag.RunAsService;
  return std::nullopt;
}

StartupOutcome Startup::ChangeServiceRegistration(bool install) {
  ServiceControl& service = context_.Service;
  bool succeeded = false;
  if (install) {
    service.SetInteractive(false);
    service.SetControlsAccepted(ControlsAcceptedStopAndShutdown);
    succeeded = service.Install();
    // A registration whose flag cannot be stored would start in desktop mode: it is taken back.
    if (succeeded) {
      succeeded = service.SaveSetting(ServiceSection, ServiceKey, "1");
      service.FinishInstall(succeeded);
    }
  } else {
    succeeded = service.Uninstall() && service.SaveSetting(ServiceSection, ServiceKey, "0");
  }
  const char* outcome =
      install
          ? (succeeded ? " service installation succeeded" : " failed to install as service")
          : (succeeded ? " service uninstalled successfully" : " failed to uninstall as service");
  const std::string reason = succeeded ? "" : service.LastError();
  context_.Messages.Show(service.DisplayName() + outcome + (reason.empty() ? "" : ": " + reason),
                         MessageBox::Plain);
  return StartupOutcome::Exit(succeeded ? StartupOutcome::ExitSuccess
                                        : StartupOutcome::ExitFailure);
}

void Startup::OpenOstrelListener() {
  SocketControl& listener = *context_.TheControls.WinsockOstrelConnect;
  const int32_t ostrelPort = context_.State.General.OstrelPort;
  listener.SetLocalPort(ostrelPort);
  listener.SetLocalAddress(context_.State.General.OstrelBindAddress);
  const SocketError error = listener.Listen();
  ostrelListenError_ = error.Number > 0 ? error.Description : "";
  if (error.Number > 0) {
    context_.Log.WriteLog("Could not set Ostrel port (" + std::to_string(ostrelPort) +
                          ") to listen mode, err: " + error.Description);
  }
}

std::optional<StartupOutcome> Startup::SetUpPort(int16_t port, const IniFile& ini,
                                                 const std::vector<ConfigFinding>& findings) {
  PortEntry& entry = context_.Ports.PortSettings(port);
  std::string portType;
  if (auto error = ReadPortSettings(ini, port, entry, portType)) return FailConfiguration(*error);
  entry.Kind = PortKind::NotUsed;
  // What the check found wrong with this port, after the reader's own errors above.
  std::string reasons;
  for (const ConfigFinding& finding : findings) {
    if (!finding.IsError || finding.Port != port) continue;
    const size_t place = finding.Text.find('[');
    reasons +=
        (reasons.empty() ? "" : "; ") + finding.Text.substr(place == std::string::npos ? 0 : place);
  }
  if (!reasons.empty()) return FailBadPort(port, reasons);
  if (portType == "TCPS") return SetUpTcpServer(port);
  if (portType == "TCPC") return SetUpTcpClient(port);
  if (portType == "COM") return SetUpSerial(port);
  return std::nullopt;
}

std::optional<StartupOutcome> Startup::SetUpTcpServer(int16_t port) {
  const PortEntry& entry = context_.Ports.PortSettings(port);
  if (entry.ListenPort < 1 || entry.ListenPort > 65535) return std::nullopt;
  SocketControl& listener = *context_.TheControls.WinsockConnect[port];
  listener.SetLocalPort(entry.ListenPort);
  listener.SetLocalAddress(entry.ListenAddress);
  const SocketError error = listener.Listen();
  if (error.Failed()) {
    const std::string text =
        "Could not set socket in listen mode: " + error.Description + " for port " +
        PortText(port) + " (IP port " + std::to_string(entry.ListenPort) +
        (entry.ListenAddress.empty() ? "" : " on " + entry.ListenAddress) + ")";
    return Fail(text, text, text);
  }
  AddRow(port, PortKind::TcpServer);
  context_.Log.WriteLog("Set (" + PortText(port) + ") in listen mode for IP port " +
                        std::to_string(listener.LocalPort()));
  return std::nullopt;
}

std::optional<StartupOutcome> Startup::SetUpTcpClient(int16_t port) {
  const PortEntry& entry = context_.Ports.PortSettings(port);
  // The check refuses a TCPC port without host:port, or with a ListenPort, before it is set up.
  if (!entry.Remote || context_.State.General.ReconnectInterval < 1) return std::nullopt;
  SocketControl& socket = *context_.TheControls.WinsockData[port];
  socket.SetRemoteHost(entry.Remote->Host);
  socket.SetRemotePort(entry.Remote->Port);
  AddRow(port, PortKind::TcpClient);
  context_.Log.WriteLog("Created socked client for IP " +
                        HostPortText(socket.RemoteHost(), socket.RemotePort()));
  return std::nullopt;
}

std::optional<StartupOutcome> Startup::SetUpSerial(int16_t port) {
  if (!context_.Ports.PortSettings(port).Serial) return std::nullopt;
  std::string reason;
  if (!context_.Ports.OpenSerialPort(port, reason)) {
    return FailBadPort(port, "ComSetting=" + context_.Ports.PortSettings(port).ComSetting +
                                 (reason.empty() ? "" : ": " + reason));
  }
  AddRow(port, PortKind::Serial);
  context_.Log.WriteLog("Opened (" + PortText(port) + ") port COM" +
                        std::to_string(context_.TheControls.MSComm[port]->CommPort()));
  return std::nullopt;
}

void Startup::AddRow(int16_t port, PortKind kind) {
  PortEntry& entry = context_.Ports.PortSettings(port);
  entry.Kind = kind;
  entry.ConnectionListItem = context_.ConnectionList.AddRow(entry.Description);
}

StartupOutcome Startup::Fail(const std::string& eventText, const std::string& boxText,
                             const std::string& logText) {
  if (context_.State.RunAsService) {
    context_.Service.LogEvent(ServiceControl::EventError, EventStartupFailed, eventText);
  } else {
    context_.Messages.Show(boxText, MessageBox::Critical);
  }
  context_.Log.WriteLog(logText, LogFile::Importance::Essential);
  return StartupOutcome::Exit(StartupOutcome::ExitFailure);
}

StartupOutcome Startup::FailConfiguration(const ConfigError& error) {
  const std::string text = error.Text();
  return Fail(text, text, text);
}

StartupOutcome Startup::FailBadPort(int16_t port, const std::string& reason) {
  const std::string logText =
      "Bad server/client configuration for port " + PortText(port) + ": " + reason;
  return Fail(logText, "Bad configuration for port " + PortText(port) + ": " + reason, logText);
}

void Startup::Announce(const std::string& text, const std::string& terminalText) {
  context_.Log.WriteLog(text);
  context_.Messages.Show(terminalText.empty() ? text : terminalText, MessageBox::Note);
}

std::string Startup::RunningText(bool withReason) const {
  const ProgramState& state = context_.State;
  const SocketControl& listener = *context_.TheControls.WinsockOstrelConnect;
  const std::string& address = state.General.OstrelBindAddress;
  std::string text = "Running: alarm server ";
  const std::string host = address.empty()                          ? "*"
                           : address.find(':') != std::string::npos ? "[" + address + "]"
                                                                    : address;
  text += listener.State() == SocketControl::Listening
              ? "listener on " + host + ":" + std::to_string(listener.LocalPort())
              : "NOT listening (port " + std::to_string(state.General.OstrelPort) +
                    (withReason && !ostrelListenError_.empty() ? ": " + ostrelListenError_ : "") +
                    ")";
  int counts[4] = {};
  for (int16_t port = 0; port < PortCount; ++port)
    ++counts[static_cast<int>(context_.Ports.PortSettings(port).Kind)];
  text += "; input ports: " + std::to_string(counts[1]) + " TCPS, " + std::to_string(counts[2]) +
          " TCPC, " + std::to_string(counts[3]) + " COM";
  text += "; log: " + state.LogPath;
  text += state.RunAsService ? "; stop: systemctl stop TARVEL80ImportForOstrel"
                             : "; stop: Ctrl+C, SIGTERM or File > Exit";
  return text;
}

}  // namespace tarvel
