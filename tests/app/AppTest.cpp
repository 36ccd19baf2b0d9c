#include <algorithm>
#include <fstream>
#include <tuple>

#include "app/CommandLine.h"
#include "app/GatewayFixture.h"
#include "app/ServiceStatus.h"
#include "app/Shutdown.h"
#include "app/Startup.h"
#include "app/StatusSnapshot.h"
#include "fakes/FakeMessageBox.h"
#include "fakes/FakeProcessControl.h"
#include "fakes/FakeServiceControl.h"

namespace tarvel {
namespace {

using Arguments = std::vector<std::string>;

// The switches set, as letters (Install, Uninstall, Headless, Check, Strict, ? for help,
// Version), then the values given.
std::string Parsed(const Arguments& arguments) {
  const CommandLine line = CommandLine::Parse(arguments);
  if (!line.Error.empty()) return "error";
  std::string text;
  const bool flags[] = {line.Install, line.Uninstall, line.Headless, line.Check,
                        line.Strict,  line.Help,      line.Version};
  for (size_t i = 0; i < std::size(flags); ++i)
    if (flags[i]) text += "IUHCS?V"[i];
  for (const auto& [name, value] :
       {std::pair{" dir=", line.Dir}, {" config=", line.Config}, {" log=", line.LogDir}})
    if (!value.empty()) text += name + value;
  return text;
}

// Switches count only as whole arguments and /U wins; a value is never an option, and the last
// one given wins.
TEST(CommandLine, ParsesWhatItKnowsAndRefusesTheRest) {
  const std::pair<Arguments, std::string> rows[] = {
      // clang-format off
      {{}, ""}, {{"/I"}, "I"}, {{"/i"}, "I"}, {{"/u"}, "U"}, {{"/I", "/U"}, "U"},
      {{"/U", "/i"}, "U"}, {{"--strict", "--check"}, "CS"}, {{"--help"}, "?"}, {{"--version"}, "V"},
      // A folder under /usr or /opt/Inst must not be read as a switch.
      {{"--dir", "/usr/local/tarvel"}, " dir=/usr/local/tarvel"}, {{"--dir", "/I"}, " dir=/I"},
      {{"--dir=/opt/x", "--headless"}, "H dir=/opt/x"},
      {{"--headless", "--dir", "/u", "/I"}, "IH dir=/u"},
      {{"--config", "/etc/x.ini", "--log-dir=logs", "--dir=/srv/gw", "--config=--dir"},
       " dir=/srv/gw config=--dir log=logs"},
      // clang-format on
  };
  for (const auto& [arguments, parsed] : rows) EXPECT_EQ(Parsed(arguments), parsed) << parsed;
  const Arguments refused[] = {// clang-format off
      {"--dir"}, {"--dir", ""}, {"/X"}, {"/UI"}, {"-x"}, {"--strict"}, {"--config"}, {"--log-dir"},
      {"--config="}, {"--log-dir="}};
  // clang-format on
  for (const Arguments& arguments : refused) EXPECT_EQ(Parsed(arguments), "error") << arguments[0];
}

// Installed (in a folder named bin or sbin) and given no --dir, the program never uses its own
// folder; a build tree or --dir keeps everything in the program folder. Given paths always win.
TEST(CommandLine, LayoutFollowsTheOptionsThenWhereTheProgramIs) {
  // The program folder, the configuration and the log folder, in one text.
  const auto layout = [](const std::string& program, const std::string& config,
                         const std::string& log) { return program + " " + config + " " + log; };
  const auto inFolder = [&](const std::string& folder) {
    return layout(folder, folder + "TARVEL80Import.ini", folder + "LogFiles/");
  };
  const std::string system =
      layout("/var/lib/tarvel80import/", "/etc/tarvel80import/TARVEL80Import.ini",
             "/var/log/tarvel80import/");
  const std::tuple<Arguments, std::string, std::string> rows[] = {
      // clang-format off
      {{}, "/usr/bin/tarvel80import", system},
      {{}, "/usr/local/sbin/tarvel80import", system},
      {{"--config", "north.ini"}, "/opt/t/bin/x",
       layout("/var/lib/tarvel80import/", "/home/me/north.ini", "/var/log/tarvel80import/")},
      {{"--dir", "/srv/gw"}, "/usr/bin/x", inFolder("/srv/gw/")},
      {{}, "/home/me/build/x", inFolder("/home/me/build/")},
      {{}, "/home/me/binaries/x", inFolder("/home/me/binaries/")},
      {{"--dir", "./a/../b/", "--log-dir", "/var/log/x"}, "/x/y",
       layout("/home/me/b/", "/home/me/b/TARVEL80Import.ini", "/var/log/x/")},
      {{"--dir=examples", "--config=/etc/a.ini", "--log-dir=logs/"}, "/usr/bin/x",
       layout("/home/me/examples/", "/etc/a.ini", "/home/me/logs/")},
      // clang-format on
  };
  for (const auto& [arguments, executable, expected] : rows) {
    const ProgramLayout got = ResolveLayout(CommandLine::Parse(arguments), executable, "/home/me");
    EXPECT_EQ(layout(got.ProgramPath, got.ConfigPath, got.LogPath), expected) << executable;
  }
}

using Lines = std::vector<std::string>;

// Opens a fake serial port the way the gateway does: on the COM number of its setting.
class FakeStartupGateway : public StartupGateway {
 public:
  explicit FakeStartupGateway(Controls& controls) : controls_(controls) {}
  PortEntry& PortSettings(int16_t port) override { return settings_.at(port); }
  void ForgetSettings() { settings_ = {}; }
  bool OpenSerialPort(int16_t port, std::string& reason) override {
    SerialControl& serial = *controls_.MSComm[port];
    serial.SetCommPort(settings_.at(port).Serial->ComNumber);
    reason = serial.SetPortOpen(true).Description;
    return serial.PortOpen();
  }
  void ShowStatus() override { ++Shown; }
  std::string OpenKeptLines() override { return {}; }
  int Shown = 0;

 private:
  std::array<PortEntry, PortCount> settings_{};
  Controls& controls_;
};

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() {
    std::filesystem::create_directory(folder_ + "LogFiles");  // the fake process control doesn't
  }
  // A fresh start: no log, no messages, nothing stored but the service flag.
  void Reset(const std::string& ini, const std::string& runAsService = "0") {
    state_ = ProgramState{};
    gateway_.ForgetSettings();
    list_ = InMemoryConnectionList{};
    messages_ = FakeMessageBox{};
    service_ = FakeServiceControl{};
    service_.Settings["Parameters/RunAsService"] = runAsService;
    std::filesystem::remove(folder_ + "LogFiles/20170607.Log");
    std::ofstream(folder_ + "TARVEL80Import.ini", std::ios::binary) << ini;
  }
  StartupOutcome Run(bool install = false, bool uninstall = false) {
    return Startup(StartupContext{state_, log_, controls_, list_, window_, gateway_, service_,
                                  process_, messages_})
        .FormLoad(layout_, install, uninstall);
  }
  // The log's lines without CR LF and time stamps, from line `first` on (2: after the start).
  Lines LogLines(size_t first = 0) const {
    Lines lines = temp_.Messages();
    lines.erase(lines.begin(), lines.begin() + static_cast<long>(std::min(first, lines.size())));
    return lines;
  }
  Lines MessageTexts(int style = MessageBox::Critical) const {
    Lines texts;
    for (const auto& message : messages_.Messages)
      if (message.Style == style) texts.push_back(message.Text);
    return texts;
  }

  TempFolder temp_;
  std::string folder_ = temp_.Path();
  ProgramLayout layout_ = ProgramLayout::InFolder(folder_);
  FakeClock clock_;
  LogFile log_{clock_, ""};
  ProgramState state_;
  FakeNetwork network_;
  PortControls<FakeSocketControl, FakeSerialControl> ports_{
      [this] { return std::make_unique<FakeSocketControl>(&network_); },
      [] { return std::make_unique<FakeSerialControl>(); }};
  Controls controls_ = ports_.Wired();
  FakeSocketControl& ostrelConnect_ = ports_.WinsockOstrelConnect();
  InMemoryConnectionList list_;
  InMemoryMainWindow window_;
  FakeStartupGateway gateway_{controls_};
  FakeServiceControl service_;
  FakeProcessControl process_;
  FakeMessageBox messages_;
};

TEST_F(StartupTest, WithoutIniFileListensOn14000AndOpensNoPort) {
  EXPECT_TRUE(Run().KeepRunning);
  EXPECT_EQ(process_.LockPath, folder_);
  EXPECT_EQ(LogLines(),
            (Lines{std::string(80, '-'), "TARVEL80 Import for Ostrel is starting, version 1.0.04",
                   "Configuration warning: " + folder_ +
                       "TARVEL80Import.ini: no such file; every setting takes its default",
                   "Running: alarm server listener on *:14000; input ports: 0 TCPS, "
                   "0 TCPC, 0 COM; log: " +
                       folder_ + "LogFiles/; stop: Ctrl+C, SIGTERM or File > Exit"}));
  EXPECT_EQ(MessageTexts(MessageBox::Note), (Lines{LogLines()[2], LogLines()[3]}));
  EXPECT_EQ(gateway_.Shown, 1);
  EXPECT_EQ(window_.ExitCaption(), "&Exit\tAlt+F4");
  EXPECT_FALSE(window_.Hidden());
  EXPECT_TRUE(MessageTexts().empty());
  EXPECT_TRUE(service_.Calls.empty());  // the "started" entry is the service's alone
}

// As installed: the configuration and the log folder are not in the program folder, whose own
// INI file is not read. A log folder that cannot be made is said, and the start goes on.
TEST_F(StartupTest, ReadsTheConfigurationAndLogsWhereTheLayoutSays) {
  Reset("[General]\nOstrelPort=14001\n");
  std::ofstream(folder_ + "north.ini") << "[General]\nOstrelPort=14002\n";
  std::filesystem::create_directory(folder_ + "state");
  process_.FolderFailure = "Permission denied";
  layout_ = {folder_ + "state", folder_ + "north.ini", folder_ + "LogFiles"};
  EXPECT_TRUE(Run().KeepRunning);
  EXPECT_EQ(ostrelConnect_.LocalPort(), 14002);
  EXPECT_EQ(process_.LockPath, folder_ + "state/");
  EXPECT_EQ(process_.Folders, Lines{folder_ + "LogFiles/"});
  EXPECT_EQ(MessageTexts(MessageBox::Note).front(),
            "the log folder " + folder_ +
                "LogFiles/ is missing and cannot be made (Permission denied); the gateway runs "
                "without its log");
  EXPECT_TRUE(LogLines().back().ends_with("; log: " + folder_ +
                                          "LogFiles/; stop: Ctrl+C, SIGTERM or File > Exit"));
}

// The ports before a failing one are set up (port 1 too: the lowest port number is one like any
// other), the ones after it are not. Each listener gets its
// bind address; an alarm-server listener that fails is logged and the start goes on.
TEST_F(StartupTest, FailingPortEndsStartUpAfterTheGoodPortsBeforeIt) {
  const std::string before =
      "[General]\nOstrelPort=14001\nOstrelBindAddress=::1\n"
      "[TARVEL80_Port_0]\nDescription=Front door\nPortType=TCPS\nListenPort=1\n"
      "[TARVEL80_Port_1]\nPortType=TCPC\nRemoteAddress=h:10001\n"
      "[TARVEL80_Port_2]\nPortType=COM\nComSetting=COM2,9600,N,8,1,0\n";
  const std::string after = "[TARVEL80_Port_4]\nPortType=TCPS\nListenPort=10004\n";
  const std::string twoReasons =
      "[TARVEL80_Port_3] RemoteAddress=h: not host:port (expected a host name or address, \":\" "
      "and a port from 1 to 65535); [TARVEL80_Port_3] ListenPort=1: must be 0 or missing for a "
      "TCPC port";
  // Port 3's keys, the log's line and the message's text (none: the log's).
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"PortType=COM\nComSetting=COM9,9600,N,8,1,0",
       "Bad server/client configuration for port 3: ComSetting=COM9,9600,N,8,1,0: No such device",
       "Bad configuration for port 3: ComSetting=COM9,9600,N,8,1,0: No such device"},
      {"PortType=TCPS\nListenPort=10003\nListenAddress=127.0.0.2",
       "Could not set socket in listen mode: Address in use for port 3 (IP port 10003 on "
       "127.0.0.2)",
       ""},
      {"PortType=TCPC\nRemoteAddress=h\nListenPort=1",
       "Bad server/client configuration for port 3: " + twoReasons,
       "Bad configuration for port 3: " + twoReasons},
  };
  ostrelConnect_.FailListen(10048, "Address in use");
  ports_.MSComm(3).FailOpen("No such device");
  ports_.WinsockConnect(3).FailListen(10048, "Address in use");
  for (const auto& [port3, logText, messageText] : rows) {
    SCOPED_TRACE(port3);
    Reset(before + "[TARVEL80_Port_3]\n" + port3 + "\n" + after);
    gateway_.Shown = 0;
    const StartupOutcome outcome = Run();
    EXPECT_FALSE(outcome.KeepRunning);
    EXPECT_EQ(outcome.ExitStatus, 1);
    EXPECT_EQ(LogLines(2),
              (Lines{"Could not set Ostrel port (14001) to listen mode, err: Address in use",
                     "Set (0) in listen mode for IP port 1", "Created socked client for IP h:10001",
                     "Opened (2) port COM2", logText}));
    EXPECT_EQ(MessageTexts(), Lines{messageText.empty() ? logText : messageText});
    EXPECT_EQ(gateway_.Shown, 0) << "shown once every port is set up";
    EXPECT_EQ(list_.Rows().size(), 3u);
    EXPECT_EQ(list_.Rows()[0].Description, "Front door");
    EXPECT_EQ(gateway_.PortSettings(2).ConnectionListItem, 2);
    EXPECT_EQ(ports_.WinsockConnect(4).State(), SocketControl::Closed);
  }
  Reset(before + after);  // the good ports alone: the start line counts them by kind
  EXPECT_TRUE(Run().KeepRunning);
  EXPECT_NE(LogLines().back().find(
                "NOT listening (port 14001); input ports: 2 TCPS, 1 TCPC, 1 COM; log: "),
            std::string::npos)
      << LogLines().back();
  // The terminal also gets the reason, which the log has on the line before.
  EXPECT_EQ(MessageTexts(MessageBox::Note)
                .back()
                .find("NOT listening (port 14001: Address in use); input ports: 2 TCPS"),
            LogLines().back().find("NOT listening (port 14001)"));
  EXPECT_EQ(ostrelConnect_.LocalAddress, "::1");
  EXPECT_EQ(ports_.WinsockConnect(0).LocalAddress, "");
  EXPECT_EQ(ports_.WinsockConnect(3).LocalAddress, "127.0.0.2");
}

// A TCPC port is not used while ReconnectInterval is below 1: the check's warning says so.
TEST_F(StartupTest, ServiceModeReportsToTheEventLogNotToMessageBoxes) {
  Reset("[General]\nReconnectInterval=0\n[TARVEL80_Port_0]\nPortType=TCPC\nRemoteAddress=h:1\n",
        "1");
  EXPECT_TRUE(Run().KeepRunning);
  EXPECT_TRUE(state_.RunAsService);
  EXPECT_EQ(service_.Calls, (Lines{"SetControlsAccepted 5", "StartService",
                                   "LogEvent 4 110 TARVEL80 Import for Ostrel Alarm Server "
                                   "started"}));
  EXPECT_TRUE(window_.Hidden());
  EXPECT_EQ(window_.Caption(), "TARVEL80 Import for Ostrel Alarm Server - Version 1.0.04");
  EXPECT_EQ(LogLines().size(), 4u);  // the "started" text goes only to the event log
  EXPECT_TRUE(
      LogLines()[2].starts_with("Configuration warning: [TARVEL80_Port_0] PortType=TCPC: "));
  EXPECT_TRUE(LogLines().back().find(" 0 TCPC, ") != std::string::npos);
  EXPECT_TRUE(LogLines().back().ends_with("; stop: systemctl stop TARVEL80ImportForOstrel"));

  Reset("[TARVEL80_Port_5]\nPortType=TCPC\nRemoteAddress=h:1\nListenPort=1\n", "1");
  EXPECT_FALSE(Run().KeepRunning);
  EXPECT_TRUE(messages_.Messages.empty());
  ASSERT_EQ(LogLines(2).size(), 1u);
  EXPECT_TRUE(LogLines(2)[0].starts_with("Bad server/client configuration for port 5: "));
  EXPECT_EQ(service_.Calls, Lines{"LogEvent 1 109 " + LogLines(2)[0]});
}

TEST_F(StartupTest, SecondCopyIsRefusedBeforeAnythingElse) {
  const Lines refused{"TARVEL80 Import for Ostrel Alarm Server is already started!"};
  for (const auto& [stored, uninstall, texts] :
       {std::tuple{"0", false, refused}, std::tuple{"1", false, Lines{}},
        std::tuple{"0", true, refused}}) {
    SCOPED_TRACE(std::string("RunAsService=") + stored + (uninstall ? " /U" : ""));
    Reset("", stored);
    process_.AnotherCopyRunning = true;
    const StartupOutcome outcome = Run(false, uninstall);
    EXPECT_FALSE(outcome.KeepRunning);
    EXPECT_NE(outcome.ExitStatus, 0);
    EXPECT_EQ(MessageTexts(), texts);
    EXPECT_TRUE(service_.Calls.empty());  // nothing uninstalled, nothing logged
    EXPECT_TRUE(LogLines().empty());
  }
}

TEST_F(StartupTest, InstallAndUninstallReportAndStoreOnlyOnSuccess) {
  const Lines install{"SetInteractive false", "SetControlsAccepted 5", "Install"};
  const Lines uninstall{"Uninstall"};
  const std::tuple<bool, bool, bool, std::string, std::string> rows[] = {
      {true, true, true, "service installation succeeded", "1"},
      {true, false, true, "failed to install as service", "(none)"},
      {true, true, false, "failed to install as service: read-only folder", "(none)"},
      {false, true, true, "service uninstalled successfully", "0"},
      {false, false, true, "failed to uninstall as service", "(none)"},
  };
  for (const auto& [isInstall, registers, saves, message, stored] : rows) {
    SCOPED_TRACE(message);
    Reset("");
    service_ = FakeServiceControl{};
    if (!registers) service_.Succeeds = false;
    if (!saves) service_.Saves = false;
    Lines calls = isInstall ? install : uninstall;
    if (registers)
      calls.push_back(std::string("SaveSetting Parameters/RunAsService=") +
                      (isInstall ? "1" : "0"));
    // A registration whose flag was not stored is taken back.
    if (isInstall && registers)
      calls.push_back(saves ? "FinishInstall keep" : "FinishInstall undo");
    const StartupOutcome outcome = Run(isInstall, !isInstall);
    EXPECT_FALSE(outcome.KeepRunning);
    EXPECT_EQ(outcome.ExitStatus, registers && saves ? 0 : 1);
    EXPECT_EQ(service_.Calls, calls);
    EXPECT_EQ(service_.GetSetting("Parameters", "RunAsService", "(none)"), stored);
    EXPECT_EQ(MessageTexts(MessageBox::Plain), Lines{"TARVEL80 Import for Ostrel " + message});
    EXPECT_TRUE(LogLines().empty());
    EXPECT_EQ(ostrelConnect_.State(), SocketControl::Closed);
  }
}

// A bad value of the service flag or of [General], or a KeepFile over one of the program's own
// files (kept lines would destroy it), ends the start with a line in the log and a message, before
// anything opens. A flag that cannot say which mode applies goes to the event log too.
TEST_F(StartupTest, BadConfigurationEndsStartUp) {
  const std::string keepFile = "Configuration error: [General] KeepFile: ";
  const auto ownName = [](const std::string& name) {
    return "; the keep file needs a name of its own \"" + name + "\"";
  };
  const std::pair<std::string, std::string> rows[] = {
      {"", "Configuration value out of range: [Parameters] RunAsService=yes"},
      {"OstrelPort=99999999999",
       "Configuration error: [General] OstrelPort: not a port number (expected a whole number "
       "from 1 to 65535) \"99999999999\""},
      {"KeepFile=TARVEL80Import.ini", keepFile + "is the configuration file " + folder_ +
                                          "TARVEL80Import.ini" + ownName("TARVEL80Import.ini")},
      {"KeepFile=" + folder_ + "LogFiles/../TARVEL80Import.lock",
       keepFile + "is the running-copy lock " + folder_ + "TARVEL80Import.lock" +
           ownName(folder_ + "LogFiles/../TARVEL80Import.lock")},
      {"KeepFile=LogFiles/kept",
       keepFile + "is in the log folder " + folder_ + "LogFiles/" + ownName("LogFiles/kept")},
      {"KeepFile=.//TARVEL80Import.service.ini", keepFile + "is the service settings file " +
                                                     folder_ + "TARVEL80Import.service.ini" +
                                                     ownName(".//TARVEL80Import.service.ini")},
  };
  for (const auto& [general, logged] : rows) {
    SCOPED_TRACE(general);
    Reset("[General]\n" + general + "\n", general.empty() ? "yes" : "0");
    const StartupOutcome outcome = Run();
    EXPECT_FALSE(outcome.KeepRunning);
    EXPECT_EQ(outcome.ExitStatus, 1);
    EXPECT_EQ(LogLines(), Lines{logged});
    EXPECT_EQ(MessageTexts(), Lines{logged});
    EXPECT_EQ(service_.Calls, general.empty() ? Lines{"LogEvent 1 109 " + logged} : Lines{});
    EXPECT_EQ(ostrelConnect_.State(), SocketControl::Closed);
  }
  Reset("[General]\nKeepFile=kept.txt\n");
  EXPECT_TRUE(Run().KeepRunning);
}

// The reason goes into the stopping line: SIGTERM is the service manager's stop for a service,
// someone else's for a desktop run.
TEST(Shutdown, SignalsMapToCloseReasons) {
  for (const bool service : {false, true}) {
    EXPECT_EQ(CloseReasonForSignal(StopSignal::Terminate, service),
              service ? CloseReason::ProgramClose : CloseReason::TaskManager);
    EXPECT_EQ(CloseReasonForSignal(StopSignal::HangUp, service), CloseReason::SessionEnd);
    EXPECT_EQ(CloseReasonForSignal(StopSignal::Interrupt, service), CloseReason::UserClose);
  }
}

// SIGHUP ends a desktop or terminal run, but a service goes on: it says so in the log.
TEST(Shutdown, WritesOneLineAndEndsTheProcessOnceButAServiceOutlivesAHangUp) {
  TempFolder folder;
  std::filesystem::create_directory(folder.Path() + "LogFiles");
  FakeClock clock;
  LogFile log(clock, folder.Path() + "LogFiles");
  FakeProcessControl process;
  Shutdown shutdown(log, process);

  shutdown.HandleSignal(StopSignal::HangUp, true);
  EXPECT_TRUE(process.EndStatuses.empty());
  shutdown.HandleSignal(StopSignal::Terminate, true);
  shutdown.Stop(CloseReason::UserClose);  // a second request while stopping

  EXPECT_EQ(folder.ReadFile("LogFiles/20170607.Log"),
            "17-06-07 12:34:56 Received SIGHUP: the service goes on; a changed "
            "TARVEL80Import.ini takes effect only after a restart (systemctl restart "
            "TARVEL80ImportForOstrel)\r\n"
            "17-06-07 12:34:56 TARVEL80 Server is stopping, reason 1\r\n");
  EXPECT_EQ(process.EndStatuses, std::vector<int>{0});
}

using HostileInputTest = GatewayFixture;

// Invalid lines are logged up to a limit per port; the ones held back are counted in one line
// once the port has been quiet for a while, or a minute after the first at the latest.
TEST_F(HostileInputTest, FloodOfRejectedLinesIsLimitedPerPortThenCounted) {
  // Seconds of lines on port 3 from 12:00:00 on (then three quiet seconds), lines a second,
  // lines logged (1000 a minute at most) and the count lines.
  const std::tuple<int, int, size_t, std::vector<std::string>> rows[] = {
      {1, 5000, 20, {"4980 more lines rejected on port (3) since 17-06-11 12:00:00"}},
      {70,
       25,
       1200,
       {"500 more lines rejected on port (3) since 17-06-12 12:00:00",
        "50 more lines rejected on port (3) since 17-06-12 12:01:00"}},
      {1, 21, 20, {"1 more lines rejected on port (3) since 17-06-13 12:00:00"}},  // one held back
  };
  UsePort(3, PortKind::TcpServer);
  UsePort(4, PortKind::TcpServer);
  int day = 10;  // a day of each row's own
  for (const auto& [seconds, linesPerSecond, logged, expectedCounts] : rows) {
    SCOPED_TRACE(seconds);
    ++day;
    const auto before = static_cast<long>(LogMessages().size());
    std::string lines;
    for (int i = 0; i < linesPerSecond; ++i) lines += "garbage\n";
    for (int second = 0; second < seconds + 3; ++second) {
      clock.Set(2017, 6, day, 12, second / 60, second % 60);
      if (second < seconds) Receive(3, lines);
      timer.Tick();  // through the gateway's own timer handler
    }
    Receive(4, "XX 07-06-2017 10:20:30 other port\n");
    const std::vector<std::string> messages = LogMessages();
    size_t invalid = 0, otherPort = 0;  // ports are limited apart
    std::vector<std::string> counts;
    for (auto m = messages.begin() + before; m != messages.end(); ++m) {
      if (m->starts_with("Invalid event type: other port"))
        ++otherPort;
      else if (m->starts_with("Invalid event type: "))
        ++invalid;
      else
        counts.push_back(*m);
    }
    EXPECT_EQ(invalid, logged);
    EXPECT_EQ(otherPort, 1u);
    EXPECT_EQ(counts, expectedCounts);
  }
}

TEST_F(HostileInputTest, PeerWithoutAReadableAddressIsLoggedAsUnknown) {
  UsePort(2, PortKind::TcpServer);
  listeners[2]->Listen();
  listeners[2]->RequestConnection("10.0.0.1", 4000);
  listeners[2]->RequestConnection("", 0);  // refused: the port is connected
  ConnectOstrel("", 0);
  state.General.OstrelAllowedHosts = Hosts("10.0.0.0/8");
  ConnectOstrel("", 0);
  const std::vector<std::string> expected = {
      "Connection (2) accepted from 10.0.0.1:4000", "Connection (2) refused from unknown",
      "Accepted Ostrel connection from unknown", "Refused Ostrel connection from unknown"};
  EXPECT_EQ(LogMessages(), expected);
}

using ServiceStatusTest = GatewayFixture;

TEST_F(ServiceStatusTest, TellsAlarmServerInputPortsAndKeptLinesWhenTheyChange) {
  UsePort(0, PortKind::TcpServer);
  UsePort(2, PortKind::TcpClient);
  UsePort(5, PortKind::Serial);
  state.General.BufferIfOstrelNotConnected = true;
  std::vector<std::string> sent;
  ServiceStatus status(gateway.Sources(),
                       [&](const std::string& message) { sent.push_back(message); });

  const std::string alarm = "ALARM 07-06-2017 10:20:30 ZONE-1            a\n";
  Receive(5, alarm + alarm);  // kept: no alarm server
  status.Beat();
  status.Beat();  // nothing changed: only the sign of life
  dataSockets[2]->SetState(SocketControl::Connected);
  serialPorts[5]->SetPortOpen(true);
  ConnectOstrel();
  timer.Tick();  // the kept lines go out
  status.Beat();

  EXPECT_EQ(sent,
            (std::vector<std::string>{
                "WATCHDOG=1",
                "STATUS=Alarm server not connected; input ports connected: 0 of 3; lines kept: 2",
                "WATCHDOG=1", "WATCHDOG=1",
                "STATUS=Alarm server connected; input ports connected: 2 of 3; lines kept: 0"}));
}

using StatusSnapshotTest = GatewayFixture;

// Each kind of port names its peer its own way: a server port the address that connected, a
// client port the host it calls (connected or not), a serial port its settings. The received
// count shows from the first byte; a port shows failed once its silence reaches PollFailTimeout
// (here the shortest one).
TEST_F(StatusSnapshotTest, PortsShowTheirPeerAndConnectionByKind) {
  UsePort(0, PortKind::TcpServer, "Door");
  listeners[0]->Listen();
  listeners[0]->RequestConnection("10.0.0.1", 4000);
  UsePort(1, PortKind::TcpServer, "Hall").PollFailTimeout = 1;
  UsePort(2, PortKind::TcpClient, "Panel");
  dataSockets[2]->SetRemoteHost("panel.local");
  dataSockets[2]->SetRemotePort(4002);
  UsePort(3, PortKind::Serial, "Fire").ComSetting = "COM2,9600,N,8,1";
  UsePort(4, PortKind::TcpServer, "Gate").PollFailTimeout = 2;
  ConnectOstrel("10.0.0.9", 5000);
  Receive(0, "\n");
  timer.Ticks(10);  // one second from the start: port 1's silence timeout has passed, port 4's not

  const StatusSnapshot snapshot = TakeStatusSnapshot(gateway.Sources());
  const std::tuple<int, bool, std::string, std::string, bool> rows[] = {
      {0, true, "10.0.0.1:4000", "1", false},
      {1, false, "", "", true},
      {2, false, "panel.local:4002", "", false},
      {3, true, "COM2,9600,N,8,1", "", false},
      {4, false, "", "", false}};  // number, connected, peer, Rx bytes, failed
  ASSERT_EQ(snapshot.Ports.size(), std::size(rows));
  for (size_t n = 0; n < std::size(rows); ++n) {
    const StatusSnapshot::Port& port = snapshot.Ports[n];
    EXPECT_EQ(std::tie(port.Number, port.Connected, port.Peer, port.RxBytes, port.Failed), rows[n]);
  }
  EXPECT_TRUE(snapshot.TheOstrel.Connected);
  EXPECT_EQ(snapshot.TheOstrel.Peer, "10.0.0.9:5000");
}

// Attempts every ReconnectInterval seconds (each closing first), none while connected, and again
// once the peer closes. The next attempt that the page shows is the one the tick makes: at every
// second, before a connection and after it closed, the snapshot names the second in which Connect
// is next called; while connected it names none.
TEST_F(StatusSnapshotTest, NextAttemptIsTheTicksReconnectSchedule) {
  state.General.ReconnectInterval = 5;
  UsePort(3, PortKind::TcpClient, "Panel");
  FakeSocketControl& data = *dataSockets[3];
  std::vector<std::pair<int, int>> predicted;  // second, the second of the attempt it names
  std::vector<int> attempts;
  for (int second = 0; second < 30; ++second) {
    if (second == 8) data.FireConnect();
    if (second == 14) data.FireClose();
    const std::optional<int32_t> next =
        TakeStatusSnapshot(gateway.Sources()).Ports.at(0).NextAttemptSeconds;
    EXPECT_EQ(next.has_value(), second < 8 || second >= 14) << "second " << second;
    if (next) predicted.emplace_back(second, second + *next);
    const int before = data.ConnectCalls;
    timer.Ticks(10);
    if (data.ConnectCalls != before) attempts.push_back(second + 1);
  }
  EXPECT_EQ(attempts, (std::vector<int>{1, 6, 19, 24, 29}));
  EXPECT_EQ(data.CloseCalls, 6);  // each attempt closes first, and so did the close event
  for (const auto& [second, attempt] : predicted) {
    if (second < 8 && attempt > 8) continue;  // the connection at second 8 came first
    const auto due = std::upper_bound(attempts.begin(), attempts.end(), second);
    if (due != attempts.end()) {
      EXPECT_EQ(attempt, *due) << "second " << second;
    }
  }
}

class SupervisionTest : public GatewayFixture {
 protected:
  SupervisionTest() {
    state.General.WatchDogInterval = 0;
    ConnectOstrel();
  }
};

const std::string Failure =
    "1|||Door||||TARVEL80 Connection 'Door' (4) have failed (no events within 10 s)\n";
const std::string Reminder =
    "1|||Door||||TARVEL80 Connection 'Door' (4) is still bad (cyclic 30 s reminder)\n";
const std::string Restored = "0|||Door||||TARVEL80 Connection 'Door' (4) has been restored\n";
const std::string LateFailure =
    "1|||Door||||TARVEL80 Connection 'Door' (4) have failed (no events within 97 s)\n";
const std::string EachSecond =
    "1|||Door||||TARVEL80 Connection 'Door' (4) is still bad (cyclic 1 s reminder)\n";

TEST_F(SupervisionTest, FailureInTheTenthSecondRemindersUntilARestoreAndAFaultEndsOnlyItsTick) {
  using Timeline = std::vector<std::pair<int, std::string>>;
  using enum PortKind;
  // The port's kind, PollFailTimeout, PollFailRemindTime, the second of a sign of life, the lines.
  const std::tuple<PortKind, int32_t, int32_t, int, Timeline> rows[] = {
      // clang-format off
      {Serial, 10, 30, 0, {{10, Failure}, {40, Reminder}, {70, Reminder}, {100, Reminder}}},
      {TcpServer, 10, 0, 0, {{10, Failure}}},  // no reminders when switched off
      {Serial, 97, 1, 0,
       {{97, LateFailure}, {98, EachSecond}, {99, EachSecond}, {100, EachSecond}}},
      {TcpServer, 0, 30, 0, {}},               // no supervision when switched off
      {NotUsed, 10, 30, 0, {}},
      // A restore starts the reminder count again: a whole PollFailRemindTime after the failure.
      {Serial, 10, 30, 18,
       {{10, Failure}, {18, Restored}, {27, Failure}, {57, Reminder}, {87, Reminder}}},
      // clang-format on
  };
  for (const auto& [kind, timeout, remindTime, aliveAt, expected] : rows) {
    SCOPED_TRACE(static_cast<int>(kind));
    Receive(4, "\n");  // a sign of life ends the last row's failure
    Sent();
    PortEntry& port = gateway.PortSettings(4);
    port = PortEntry{};
    if (kind != NotUsed) UsePort(4, kind, "Door");
    port.PollFailTimeout = timeout;
    port.PollFailRemindTime = remindTime;
    const size_t logged = LogMessages().size();
    Timeline lines;  // in which second each line went out
    for (int second = 1; second <= 100; ++second) {
      if (second == aliveAt) Receive(4, "\n");
      timer.Ticks(10);
      if (const std::string sent = Sent(); !sent.empty()) lines.emplace_back(second, sent);
    }
    EXPECT_EQ(lines, expected);
    // Each line is logged as sent; the empty line is logged as rejected.
    EXPECT_EQ(LogMessages().size() - logged, expected.size() + (aliveAt > 0 ? 1 : 0));
  }
  // A fault inside a tick ends that tick only (the event queue's fence takes it): the timer is
  // on again for the next one.
  Receive(4, "\n");
  gateway.PortSettings(4).PollFailTimeout = 1;
  timer.Ticks(9);
  clock.FailNext();  // the failure line's stamp
  EXPECT_THROW(timer.Tick(), std::runtime_error);
  EXPECT_TRUE(timer.Enabled());
}

}  // namespace
}  // namespace tarvel
