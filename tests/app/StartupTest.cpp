#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/Startup.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeMessageBox.h"
#include "fakes/FakeProcessControl.h"
#include "fakes/FakeSerialControl.h"
#include "fakes/FakeServiceControl.h"
#include "fakes/FakeSocketControl.h"
#include "ui/InMemoryViews.h"

namespace tarvel {
namespace {

const std::string AlreadyStarted = "TARVEL80 Import for Ostrel Alarm Server is already started!";
const std::string StartLine = "TARVEL80 Import for Ostrel is starting, version 1.0.04";

// Opens a fake serial port the way the gateway does: COM number from the 4th character on.
class FakeStartupGateway : public StartupGateway {
 public:
  FakeStartupGateway(ProgramState& state, Controls& controls, InMemoryStatusBar& statusBar)
      : state_(state), controls_(controls), statusBar_(statusBar) {}
  bool OpenSerialPort(int16_t port) override {
    SerialControl& serial = *controls_.MSComm[port];
    serial.SetCommPort(static_cast<int16_t>(std::atoi(state_.Ports[port].ComSetting.c_str() + 3)));
    serial.SetPortOpen(true);
    return serial.PortOpen();
  }
  void ShowTCPConnectionState(int16_t port) override { shown_ += std::to_string(port); }
  void ShowOstrelConnectionState() override {
    shown_ += "O";
    statusBar_.SetPanelText(StatusBarView::ConnectionPanel, "shown");
  }
  const std::string& Shown() const { return shown_; }

 private:
  ProgramState& state_;
  Controls& controls_;
  InMemoryStatusBar& statusBar_;
  std::string shown_;
};

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() {
    char pattern[] = "/tmp/tarvel-startup-XXXXXX";
    folder_ = std::string(mkdtemp(pattern)) + "/";
    for (int n = 0; n < PortCount; ++n) {
      controls_.WinsockConnect[n] = &connect_[n];
      controls_.WinsockData[n] = &data_[n];
      controls_.MSComm[n] = &serial_[n];
    }
    controls_.WinsockOstrelConnect = &ostrelConnect_;
    controls_.WinsockOstrelData = &ostrelData_;
    // The real process control makes the log folder; the fake only records it.
    std::filesystem::create_directory(folder_ + "LogFiles");
  }
  ~StartupTest() override { std::filesystem::remove_all(folder_); }

  void WriteIni(const std::string& text) {
    std::ofstream(folder_ + "TARVEL80Import.ini", std::ios::binary) << text;
  }
  StartupOutcome Run(bool install = false, bool uninstall = false) {
    Startup startup(StartupContext{state_, log_, controls_, list_, window_, gateway_, service_,
                                   process_, messages_});
    return startup.FormLoad(folder_, install, uninstall);
  }
  // The log's lines without CR LF and without time stamps.
  std::vector<std::string> LogLines() const {
    std::ifstream file(folder_ + "LogFiles/20170607.Log", std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
      EXPECT_EQ(line.back(), '\r');
      line.pop_back();
      if (line.rfind("17-06-07 12:34:56 ", 0) == 0) line = line.substr(18);
      lines.push_back(line);
    }
    return lines;
  }
  std::vector<std::string> PortLogLines() const {
    auto lines = LogLines();
    if (lines.size() >= 2) lines.erase(lines.begin(), lines.begin() + 2);
    return lines;
  }

  std::string folder_;
  FakeClock clock_;
  LogFile log_{clock_, ""};
  ProgramState state_;
  FakeNetwork network_;
  FakeSocketControl connect_[PortCount];
  FakeSocketControl data_[PortCount];
  FakeSerialControl serial_[PortCount];
  FakeSocketControl ostrelConnect_{&network_};
  FakeSocketControl ostrelData_{&network_};
  Controls controls_;
  InMemoryConnectionList list_;
  InMemoryStatusBar statusBar_;
  InMemoryMainWindow window_;
  FakeStartupGateway gateway_{state_, controls_, statusBar_};
  FakeServiceControl service_;
  FakeProcessControl process_;
  FakeMessageBox messages_;
};

TEST_F(StartupTest, WithoutIniFileListensOn14000AndOpensNoPort) {
  const StartupOutcome outcome = Run();

  EXPECT_TRUE(outcome.KeepRunning);
  EXPECT_EQ(state_.ProgramPath, folder_);
  EXPECT_EQ(process_.Folders(), std::vector<std::string>{folder_ + "LogFiles/"});
  EXPECT_EQ(process_.LockPath(), folder_);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{std::string(80, '-'), StartLine}));
  EXPECT_EQ(ostrelConnect_.LocalPort(), 14000);
  EXPECT_EQ(ostrelConnect_.State(), SocketControl::Listening);
  EXPECT_TRUE(list_.Rows().empty());
  EXPECT_EQ(gateway_.Shown(), "01234567O");
  EXPECT_EQ(window_.ExitCaption(), "&Exit\tAlt+F4");
  EXPECT_EQ(window_.Caption(), "TARVEL80 Import for Ostrel Alarm Server - Version 1.0.04");
  EXPECT_FALSE(window_.Hidden());
  EXPECT_TRUE(messages_.Messages().empty());
  EXPECT_TRUE(service_.Events().empty());  // the "started" entry is the service's alone
  for (const PortEntry& entry : state_.Ports) EXPECT_EQ(entry.Kind, PortKind::NotUsed);
}

TEST_F(StartupTest, ProgramFolderGetsItsSlash) {
  Startup startup(StartupContext{state_, log_, controls_, list_, window_, gateway_, service_,
                                 process_, messages_});
  folder_.pop_back();
  startup.FormLoad(folder_, false, false);
  folder_ += '/';
  EXPECT_EQ(state_.ProgramPath, folder_);
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(StartupTest, EachPortConfigurationHasItsOutcome) {
  struct Row {
    const char* name;
    std::string ini;      // General settings and the section of port 0
    std::string logLine;  // empty: the port is not used and nothing is logged
    PortKind kind;
    std::string message;  // the critical message on failure
  } rows[] = {
      {"server", "PortType=TCPS\nListenPort=10001", "Set (0) in listen mode for IP port 10001",
       PortKind::TcpServer, ""},
      {"server keyword trimmed, any case", "PortType= tcps \nListenPort=2.5",
       "Set (0) in listen mode for IP port 2", PortKind::TcpServer, ""},
      {"server port 0", "PortType=TCPS\nListenPort=0", "", PortKind::NotUsed, ""},
      {"server port 65536", "PortType=TCPS\nListenPort=65536", "", PortKind::NotUsed, ""},
      {"client", "PortType=TCPC\nRemoteAddress=alarm.local:4000",
       "Created socked client for IP alarm.local:4000", PortKind::TcpClient, ""},
      {"client without colon", "PortType=TCPC\nRemoteAddress=10.0.0.9",
       "Created socked client for IP 10.0.0.9:0", PortKind::TcpClient, ""},
      {"client without address", "PortType=TCPC\n", "", PortKind::NotUsed, ""},
      {"client with listen port", "PortType=TCPC\nRemoteAddress=h:1\nListenPort=5",
       "Bad server/client configuration for port 0", PortKind::NotUsed,
       "Bad configuration for port 0"},
      {"serial", "PortType=COM\nComSetting=COM3,9600,N,8,1", "Opened (0) port COM3",
       PortKind::Serial, ""},
      {"serial without setting", "PortType=COM", "", PortKind::NotUsed, ""},
      {"unknown type", "PortType=TCP\nListenPort=10001", "", PortKind::NotUsed, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    state_ = ProgramState{};
    list_ = InMemoryConnectionList{};
    messages_ = FakeMessageBox{};
    std::filesystem::remove(folder_ + "LogFiles/20170607.Log");
    WriteIni("[TARVEL80_Port_0]\nDescription=Port zero\n" + row.ini + "\n");

    const StartupOutcome outcome = Run();

    const bool fails = !row.message.empty();
    EXPECT_EQ(outcome.KeepRunning, !fails);
    EXPECT_EQ(outcome.ExitStatus, fails ? 1 : 0);
    EXPECT_EQ(PortLogLines(), row.logLine.empty() ? std::vector<std::string>{}
                                                  : std::vector<std::string>{row.logLine});
    EXPECT_EQ(state_.Ports[0].Kind, row.kind);
    const bool opened = row.kind != PortKind::NotUsed;
    ASSERT_EQ(list_.Rows().size(), opened ? 1u : 0u);
    if (opened) {
      EXPECT_EQ(list_.Rows()[0].Description, "Port zero");
    }
    EXPECT_EQ(state_.Ports[0].ConnectionListItem, opened ? 0 : PortEntry::NoRow);
    ASSERT_EQ(messages_.Messages().size(), fails ? 1u : 0u);
    if (fails) {
      EXPECT_EQ(messages_.Messages()[0].Text, row.message);
      EXPECT_EQ(messages_.Messages()[0].Style, MessageBox::Critical);
    }
  }
}

TEST_F(StartupTest, ClientPortWaitsForAReconnectInterval) {
  WriteIni("[General]\nReconnectInterval=0\n[TARVEL80_Port_0]\nPortType=TCPC\nRemoteAddress=h:1\n");
  EXPECT_TRUE(Run().KeepRunning);
  EXPECT_EQ(state_.Ports[0].Kind, PortKind::NotUsed);
  EXPECT_EQ(data_[0].ConnectCalls(), 0);
}

TEST_F(StartupTest, ListenFailureOfAServerPortEndsStartUp) {
  connect_[1].FailListen(10048, "Address in use");
  WriteIni("[TARVEL80_Port_1]\nPortType=TCPS\nListenPort=10001\n");
  const StartupOutcome outcome = Run();
  const std::string text = "Could not set socket in listen mode: Address in use for port 1";
  EXPECT_FALSE(outcome.KeepRunning);
  EXPECT_NE(outcome.ExitStatus, 0);
  EXPECT_EQ(PortLogLines(), std::vector<std::string>{text});
  ASSERT_EQ(messages_.Messages().size(), 1u);
  EXPECT_EQ(messages_.Messages()[0].Text, text);
}

TEST_F(StartupTest, WrongPort3EndsAfterGoodPorts0To2) {
  WriteIni(
      "[TARVEL80_Port_0]\nPortType=TCPS\nListenPort=10000\n"
      "[TARVEL80_Port_1]\nPortType=TCPC\nRemoteAddress=h:10001\n"
      "[TARVEL80_Port_2]\nPortType=COM\nComSetting=COM2,9600,N,8,1,0\n"
      "[TARVEL80_Port_3]\nPortType=COM\nComSetting=COM9,9600,N,8,1,0\n"
      "[TARVEL80_Port_4]\nPortType=TCPS\nListenPort=10004\n");
  serial_[3].FailOpen("No such device");

  const StartupOutcome outcome = Run();

  EXPECT_FALSE(outcome.KeepRunning);
  EXPECT_NE(outcome.ExitStatus, 0);
  EXPECT_EQ(PortLogLines(), (std::vector<std::string>{
                                "Set (0) in listen mode for IP port 10000",
                                "Created socked client for IP h:10001",
                                "Opened (2) port COM2",
                                "Bad server/client configuration for port 3",
                            }));
  EXPECT_EQ(gateway_.Shown(), "012");
  EXPECT_EQ(connect_[4].State(), SocketControl::Closed);
  EXPECT_EQ(list_.Rows().size(), 3u);
}

TEST_F(StartupTest, OstrelListenFailureIsLoggedAndStartUpGoesOn) {
  ostrelConnect_.FailListen(10048, "Address in use");
  WriteIni("[General]\nOstrelPort=14001\n[TARVEL80_Port_0]\nPortType=TCPS\nListenPort=10000\n");
  EXPECT_TRUE(Run().KeepRunning);
  EXPECT_EQ(PortLogLines(),
            (std::vector<std::string>{
                "Could not set Ostrel port (14001) to listen mode, err: Address in use",
                "Set (0) in listen mode for IP port 10000",
            }));
  EXPECT_EQ(gateway_.Shown(), "01234567O");
}

TEST_F(StartupTest, ServiceModeReportsToTheEventLogAndStartsTheService) {
  service_.Store("Parameters", "RunAsService", "1");
  EXPECT_TRUE(Run().KeepRunning);
  EXPECT_TRUE(state_.RunAsService);
  EXPECT_EQ(service_.Calls(),
            (std::vector<std::string>{"SetControlsAccepted 5", "StartService", "LogEvent 110"}));
  EXPECT_EQ(service_.Events()[0].Type, ServiceControl::EventInformation);
  EXPECT_EQ(service_.Events()[0].Text, "TARVEL80 Import for Ostrel Alarm Server started");
  EXPECT_TRUE(window_.Hidden());
  EXPECT_EQ(window_.Caption(), "TARVEL80 Import for Ostrel Alarm Server - Version 1.0.04");
  EXPECT_EQ(LogLines().size(), 2u);  // the "started" text goes only to the event log
}

TEST_F(StartupTest, ServiceModeFailureGoesToTheEventLogWithoutMessageBox) {
  service_.Store("Parameters", "RunAsService", "1");
  WriteIni("[TARVEL80_Port_5]\nPortType=TCPC\nRemoteAddress=h:1\nListenPort=1\n");
  const StartupOutcome outcome = Run();
  EXPECT_FALSE(outcome.KeepRunning);
  EXPECT_TRUE(messages_.Messages().empty());
  ASSERT_EQ(service_.Events().size(), 1u);
  EXPECT_EQ(service_.Events()[0].Type, ServiceControl::EventError);
  EXPECT_EQ(service_.Events()[0].Number, 109);
  EXPECT_EQ(service_.Events()[0].Text, "Bad server/client configuration for port 5");
  EXPECT_EQ(PortLogLines(), std::vector<std::string>{"Bad server/client configuration for port 5"});
}

TEST_F(StartupTest, SecondCopyIsRefusedBeforeAnythingElse) {
  struct Row {
    const char* stored;
    bool uninstall;
    size_t messages;
  } rows[] = {{"0", false, 1}, {"1", false, 0}, {"0", true, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("RunAsService=") + row.stored + (row.uninstall ? " /U" : ""));
    messages_ = FakeMessageBox{};
    service_ = FakeServiceControl{};
    service_.Store("Parameters", "RunAsService", row.stored);
    process_.AnotherCopyRunning();
    const StartupOutcome outcome = Run(false, row.uninstall);
    EXPECT_FALSE(outcome.KeepRunning);
    EXPECT_NE(outcome.ExitStatus, 0);
    ASSERT_EQ(messages_.Messages().size(), row.messages);
    if (row.messages) {
      EXPECT_EQ(messages_.Messages()[0].Text, AlreadyStarted);
    }
    EXPECT_TRUE(service_.Calls().empty());  // nothing uninstalled, nothing logged
    EXPECT_TRUE(LogLines().empty());
  }
}

TEST_F(StartupTest, InstallAndUninstallReportAndStoreOnlyOnSuccess) {
  struct Row {
    bool install, uninstall, succeeds;
    std::string message;
    std::string stored;
    std::vector<std::string> calls;
  } rows[] = {
      {true,
       false,
       true,
       "TARVEL80 Import for Ostrel service installation succeeded",
       "1",
       {"SetInteractive false", "SetControlsAccepted 5", "Install",
        "SaveSetting Parameters/RunAsService=1"}},
      {true,
       false,
       false,
       "TARVEL80 Import for Ostrel failed to install as service",
       "(none)",
       {"SetInteractive false", "SetControlsAccepted 5", "Install"}},
      {false,
       true,
       true,
       "TARVEL80 Import for Ostrel service uninstalled successfully",
       "0",
       {"Uninstall", "SaveSetting Parameters/RunAsService=0"}},
      {false,
       true,
       false,
       "TARVEL80 Import for Ostrel failed to uninstall as service",
       "(none)",
       {"Uninstall"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    messages_ = FakeMessageBox{};
    service_ = FakeServiceControl{};
    if (!row.succeeds) row.install ? service_.FailInstall() : service_.FailUninstall();

    const StartupOutcome outcome = Run(row.install, row.uninstall);

    EXPECT_FALSE(outcome.KeepRunning);
    EXPECT_EQ(outcome.ExitStatus, row.succeeds ? 0 : 1);
    EXPECT_EQ(service_.Calls(), row.calls);
    EXPECT_EQ(service_.Stored("Parameters", "RunAsService"), row.stored);
    ASSERT_EQ(messages_.Messages().size(), 1u);
    EXPECT_EQ(messages_.Messages()[0].Text, row.message);
    EXPECT_EQ(messages_.Messages()[0].Style, MessageBox::Plain);
    EXPECT_TRUE(LogLines().empty());
    EXPECT_EQ(ostrelConnect_.State(), SocketControl::Closed);
  }
}

TEST_F(StartupTest, ConfigurationValuesOutOfRangeEndStartUp) {
  struct Row {
    const char* stored;  // RunAsService
    std::string ini;
    std::vector<std::string> named;  // section, key, value in the texts
    bool startLines;
  } rows[] = {
      {"yes", "", {"Parameters", "RunAsService", "yes"}, false},
      {"", "", {"Parameters", "RunAsService"}, false},
      {"0", "[General]\nOstrelPort=99999999999\n", {"General", "OstrelPort", "99999999999"}, false},
      {"0",
       "[TARVEL80_Port_6]\nListenPort=-3000000000\n",
       {"TARVEL80_Port_6", "ListenPort", "-3000000000"},
       true},
      {"0",
       "[TARVEL80_Port_2]\nPortType=TCPC\nRemoteAddress=h:4294967296\n",
       {"TARVEL80_Port_2", "RemoteAddress", "h:4294967296"},
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.named.back());
    messages_ = FakeMessageBox{};
    service_ = FakeServiceControl{};
    service_.Store("Parameters", "RunAsService", row.stored);
    std::filesystem::remove(folder_ + "LogFiles/20170607.Log");
    WriteIni(row.ini);

    const StartupOutcome outcome = Run();

    EXPECT_FALSE(outcome.KeepRunning);
    EXPECT_NE(outcome.ExitStatus, 0);
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), row.startLines ? 3u : 1u);
    ASSERT_EQ(messages_.Messages().size(), 1u);
    EXPECT_EQ(messages_.Messages()[0].Text, lines.back());
    for (const std::string& name : row.named) EXPECT_NE(lines.back().find(name), std::string::npos);
  }
}

TEST_F(StartupTest, StoredServiceFlagIsANumber) {
  for (const char* stored : {"0", " 0", "0.0", "&H0", "-0"}) {
    service_.Store("Parameters", "RunAsService", stored);
    EXPECT_TRUE(Run().KeepRunning) << stored;
    EXPECT_FALSE(state_.RunAsService) << stored;
  }
  for (const char* stored : {"1", "2", " 1 ", "0.4", "&H1"}) {
    service_.Store("Parameters", "RunAsService", stored);
    EXPECT_TRUE(Run().KeepRunning) << stored;
    EXPECT_TRUE(state_.RunAsService) << stored;
  }
}

}  // namespace
}  // namespace tarvel
