// The executable: reads the command line, builds the controls, the views and the gateway, runs
// the start-up sequence and then the event loop until a stop ends the process.

#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ConfigCheckCommand.h"
#include "app/Gateway.h"
#include "app/GatewayAssembly.h"
#include "app/ServiceStatus.h"
#include "app/Shutdown.h"
#include "app/Startup.h"
#include "app/Version.h"
#include "app/qt/QtMessageBox.h"
#include "app/qt/SignalNotifier.h"
#include "app/qt/StatusServer.h"
#include "config/ConfigCheck.h"
#include "diag/FaultLog.h"
#include "diag/LogFile.h"
#include "diag/LogRetention.h"
#include "platform/posix/LinuxServiceControl.h"
#include "platform/posix/PosixKeepFileIo.h"
#include "platform/posix/PosixProcessControl.h"
#include "platform/posix/SerialDeviceProblem.h"
#include "platform/posix/StandardErrorMessageBox.h"
#include "platform/posix/SystemClock.h"
#include "platform/qt/QtEventQueue.h"
#include "platform/qt/QtSerialControl.h"
#include "platform/qt/QtSocketControl.h"
#include "platform/qt/QtUpdateTimer.h"
#include "state/PortControls.h"
#include "text/IniFile.h"
#include "text/NumericValue.h"
#include "ui/InMemoryViews.h"
#include "ui/qt/QtMainWindow.h"

namespace tarvel {
namespace {

constexpr int ExitUsage = 2;

// The views the gateway and start-up write to: the Qt windows, or the in-memory ones.
struct Views {
  ConnectionListView& ConnectionList;
  StatusBarView& StatusBar;
  MainWindowView& MainWindow;
  MenuChecks& Menus;
  DebugListView& DebugList;
};

// The gateway as start-up sees it.
class GatewayPorts : public StartupGateway {
 public:
  explicit GatewayPorts(Gateway& gateway) : gateway_(gateway) {}
  PortEntry& PortSettings(int16_t port) override { return gateway_.PortSettings(port); }
  bool OpenSerialPort(int16_t port, std::string& reason) override {
    return gateway_.OpenSerialPort(port, &reason);
  }
  void ShowStatus() override { gateway_.ShowStatus(); }
  std::string OpenKeptLines() override { return gateway_.OpenKeptLines(); }

 private:
  Gateway& gateway_;
};

// All sockets and serial ports of the gateway, for the life of the process. COM n is the device
// named in section "SerialDevices", key "COM" + n, else the default; only the devices of the
// COM ports the ports' ComSettings name are kept, however large the section.
using QtControls = PortControls<QtSocketControl, QtSerialControl>;
QtControls MakeQtControls(const std::string& iniPath) {
  auto devices =
      std::make_shared<const SerialDevices>(ConfiguredSerialDevices(IniFile::Load(iniPath)));
  std::function<std::string(int)> resolver = [devices](int commPort) {
    return devices->DeviceOf(commPort);
  };
  return QtControls([] { return std::make_unique<QtSocketControl>(); },
                    [&] { return std::make_unique<QtSerialControl>(resolver); });
}

std::string ExecutablePath(const char* argv0) {
  std::error_code error;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) return path.string();
  return std::filesystem::absolute(argv0, error).string();
}

bool DisplayAvailable() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Service mode is always headless, so it is read before the application object is made;
// start-up reads and checks the same setting again.
bool StoredServiceMode(ServiceControl& service) {
  return NumericValue(service.GetSetting(Startup::ServiceSection, Startup::ServiceKey, "0")) != 0;
}

// Runs start-up and, when it lets the gateway run, the event loop. Never returns while the
// gateway runs: every stop ends the process through the shutdown.
int RunGateway(const CommandLine& line, const ProgramLayout& layout, ServiceControl& service,
               MessageBox& messages, const Views& views, const std::function<void()>& showWindow,
               const std::function<void(std::function<void(int)>)>& setCloseHandler) {
  SystemClock clock;
  PosixProcessControl process;
  QtControls controls = MakeQtControls(layout.ConfigPath);
  QtUpdateTimer timer;
  PosixKeepFileIo keepIo;
  GatewayAssembly assembly(GatewaySurroundings{clock, controls.Wired(), views.ConnectionList,
                                               views.StatusBar, views.DebugList, views.Menus, timer,
                                               layout.ProgramPath, layout.LogPath, &keepIo});
  ProgramState& state = assembly.State;
  LogFile& log = assembly.Log;
  Gateway& gateway = assembly.TheGateway;
  // A fault that leaves an event handler is logged where it is caught, in the event queue.
  FaultLog faults(clock, log);
  QtEventQueue::SetFaultReport(
      [&faults](const std::string& where, const std::string& what) { faults.Write(where, what); });
  GatewayPorts ports(gateway);
  StatusServer statusServer(gateway.Sources(), controls.Wired(), clock, log);
  Shutdown shutdown(log, process, [&] { gateway.LeaveForNextStart(); });
  // From here on a stop signal is handled on the event loop, also one that comes during
  // start-up (it waits until start-up has returned, or a message box runs the loop).
  SignalNotifier signalNotifier([&](StopSignal signal) {
    QtEventQueue::RunHandler("stop signal",
                             [&] { shutdown.HandleSignal(signal, state.RunAsService); });
  });

  StartupOutcome outcome;
  {
    QtEventQueue::HandlerScope scope;
    Startup startup(StartupContext{state, log, controls.Wired(), views.ConnectionList,
                                   views.MainWindow, ports, service, process, messages,
                                   SerialDeviceProblem});
    outcome = startup.FormLoad(layout, line.Install, line.Uninstall);
  }
  if (!outcome.KeepRunning) process.EndProcess(outcome.ExitStatus);
  // The INI file's text and values are freed by now; hand the pages back to the system, so a
  // large file does not stay in the gateway's memory for its whole life.
  ::malloc_trim(0);
  if (const std::string failure = statusServer.Start(); !failure.empty())
    std::fprintf(stderr, "%s\n", failure.c_str());

  // Once a second on the event loop: old log files go (looked for once a day) and, as a
  // service, the status line and the watchdog's sign of life go to systemd.
  LogRetention retention(clock, log, state.LogPath, state.General.LogRetentionDays);
  ServiceStatus serviceStatus(gateway.Sources(), [](const std::string& message) {
    LinuxServiceControl::NotifyServiceManager(message);
  });
  QTimer housekeeping;
  QObject::connect(&housekeeping, &QTimer::timeout, [&] {
    QtEventQueue::RunHandler("housekeeping", [&] {
      retention.Check();
      if (state.RunAsService) serviceStatus.Beat();
    });
  });
  housekeeping.start(1000);

  setCloseHandler([&](int reason) {
    QtEventQueue::RunHandler("window close",
                             [&] { shutdown.Stop(static_cast<CloseReason>(reason)); });
  });
  if (!state.RunAsService) showWindow();
  QCoreApplication::exec();
  // The loop ends only if something quit it from outside the stop road; stop the same way.
  shutdown.Stop(CloseReason::ProgramClose);
  QtEventQueue::SetFaultReport(nullptr);
  return 0;
}

int RunHeadless(int argc, char** argv, const CommandLine& line, const ProgramLayout& layout,
                ServiceControl& service) {
  QCoreApplication application(argc, argv);
  StandardErrorMessageBox messages;
  InMemoryConnectionList list;
  InMemoryStatusBar statusBar;
  InMemoryMainWindow window;
  InMemoryMenuChecks menus;
  InMemoryDebugList debugList;
  return RunGateway(
      line, layout, service, messages, Views{list, statusBar, window, menus, debugList}, [] {},
      [](std::function<void(int)>) {});
}

int RunDesktop(int argc, char** argv, const CommandLine& line, const ProgramLayout& layout,
               ServiceControl& service) {
  QApplication application(argc, argv);
  QtMessageBox messages;
  SystemClock windowClock;
  QtMainWindow window(windowClock, layout.ProgramPath);
  return RunGateway(
      line, layout, service, messages, Views{window, window, window, window, window.DebugWindow()},
      [&] { window.show(); },
      [&](std::function<void(int)> handler) { window.SetCloseHandler(std::move(handler)); });
}

}  // namespace
}  // namespace tarvel

int main(int argc, char** argv) {
  using namespace tarvel;
  const CommandLine line =
      CommandLine::Parse(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  if (!line.Error.empty()) {
    std::fprintf(stderr, "tarvel80import: %s\n%s", line.Error.c_str(),
                 CommandLine::Usage().c_str());
    return ExitUsage;
  }
  if (line.Help) {
    std::fputs(CommandLine::Usage().c_str(), stdout);
    return 0;
  }
  if (line.Version) {
    std::puts(ProgramVersion);
    return 0;
  }
  // A peer that went away must show as a socket error, not end the process.
  std::signal(SIGPIPE, SIG_IGN);

  const std::string executable = ExecutablePath(argv[0]);
  std::error_code error;
  const ProgramLayout layout =
      ResolveLayout(line, executable, std::filesystem::current_path(error).string());
  LinuxServiceControl service(layout, executable);
  if (line.Check) {
    PosixKeepFileIo keepIo;
    return RunConfigCheck(layout, line.Strict, std::cout, keepIo, service, SerialDeviceProblem);
  }
  if (const std::string problem = ProgramFolderProblem(layout.ProgramPath); !problem.empty()) {
    std::fprintf(stderr, "tarvel80import: %s\n", problem.c_str());
    return 1;
  }
  const bool headless = line.Headless || !DisplayAvailable() || StoredServiceMode(service);
  return headless ? RunHeadless(argc, argv, line, layout, service)
                  : RunDesktop(argc, argv, line, layout, service);
}
