#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "app/Startup.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeMessageBox.h"
#include "fakes/FakeProcessControl.h"
#include "fakes/FakeSerialControl.h"
#include "fakes/FakeServiceControl.h"
#include "fakes/FakeSocketControl.h"
#include "state/PortControls.h"
#include "support/TempFolder.h"
#include "ui/InMemoryViews.h"

namespace tarvel {
namespace {

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
  // The log's lines without CR LF and time stamps, from line `first` on (2: after the start
  // lines).
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
                       "TARVEL80Import.ini: no such file; every setting takes its "
                       "default",
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
  struct Row {
    std::string port3, logText, messageText;  // no message text: the log's
  } rows[] = {
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
  for (const Row& row : rows) {
    SCOPED_TRACE(row.port3);
    Reset(before + "[TARVEL80_Port_3]\n" + row.port3 + "\n" + after);
    gateway_.Shown = 0;
    const StartupOutcome outcome = Run();
    EXPECT_FALSE(outcome.KeepRunning);
    EXPECT_EQ(outcome.ExitStatus, 1);
    EXPECT_EQ(LogLines(2),
              (Lines{"Could not set Ostrel port (14001) to listen mode, err: Address in use",
                     "Set (0) in listen mode for IP port 1", "Created socked client for IP h:10001",
                     "Opened (2) port COM2", row.logText}));
    EXPECT_EQ(MessageTexts(), Lines{row.messageText.empty() ? row.logText : row.messageText});
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
  struct Row {
    bool install, registers, saves;
    std::string message, stored;
  } rows[] = {
      {true, true, true, "service installation succeeded", "1"},
      {true, false, true, "failed to install as service", "(none)"},
      {true, true, false, "failed to install as service: read-only folder", "(none)"},
      {false, true, true, "service uninstalled successfully", "0"},
      {false, false, true, "failed to uninstall as service", "(none)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    Reset("");
    service_ = FakeServiceControl{};
    if (!row.registers) service_.Succeeds = false;
    if (!row.saves) service_.Saves = false;
    Lines calls = row.install ? install : uninstall;
    if (row.registers)
      calls.push_back(std::string("SaveSetting Parameters/RunAsService=") +
                      (row.install ? "1" : "0"));
    // A registration whose flag was not stored is taken back.
    if (row.install && row.registers)
      calls.push_back(row.saves ? "FinishInstall keep" : "FinishInstall undo");
    const StartupOutcome outcome = Run(row.install, !row.install);
    EXPECT_FALSE(outcome.KeepRunning);
    EXPECT_EQ(outcome.ExitStatus, row.registers && row.saves ? 0 : 1);
    EXPECT_EQ(service_.Calls, calls);
    EXPECT_EQ(service_.GetSetting("Parameters", "RunAsService", "(none)"), row.stored);
    EXPECT_EQ(MessageTexts(MessageBox::Plain), Lines{"TARVEL80 Import for Ostrel " + row.message});
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

}  // namespace
}  // namespace tarvel
