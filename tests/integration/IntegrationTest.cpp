#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>

#include "../../tools/KeepDrain.h"
#include "../../tools/ToolSupport.h"
#include "support/SingleLineMessage.h"

namespace tarvel::integration {
namespace {

using namespace tools;  // the harness's sockets, clients, waits, files and time literals
using ProgramFolder = TempFolder;

std::string OstrelPortIni(int port = FreePort()) {
  return "[General]\nOstrelPort=" + std::to_string(port) + "\n";
}

// The output (standard error too) and exit status of a shell command.
std::pair<std::string, int> RunShell(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (size_t count; pipe != nullptr && (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, count);
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// Where a gateway run as a service (NOTIFY_SOCKET set to Path()) tells systemd its state.
class NotifySocket {
 public:
  explicit NotifySocket(const ProgramFolder& folder) : path_(folder.Path() + "notify") {
    sockaddr_un address{AF_UNIX, {}};
    path_.copy(address.sun_path, sizeof address.sun_path - 1);  // a temporary folder's is short
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const timeval timeout{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~NotifySocket() { close(fd_); }
  NotifySocket(const NotifySocket&) = delete;
  NotifySocket& operator=(const NotifySocket&) = delete;

  const std::string& Path() const { return path_; }
  // The next `count` messages, fewer when none comes for ten seconds.
  std::vector<std::string> Receive(size_t count) const {
    std::vector<std::string> messages;
    char buffer[512];
    for (ssize_t got; messages.size() < count && (got = recv(fd_, buffer, sizeof buffer, 0)) > 0;)
      messages.emplace_back(buffer, static_cast<size_t>(got));
    return messages;
  }

 private:
  std::string path_;
  int fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
};

// This build's gateway as a child process, its standard error kept in the program folder.
class GatewayProcess : public tools::ChildProcess {
 public:
  GatewayProcess(const ProgramFolder& folder, std::vector<std::string> arguments,
                 const std::map<std::string, std::string>& environment = {})
      : ChildProcess((arguments.insert(arguments.begin(), GATEWAY_EXECUTABLE), arguments),  // argv
                     folder.Path() + "stderr-" + std::to_string(++count_) + ".txt", environment,
                     false) {}
  ~GatewayProcess() { Stop(SIGKILL); }
  std::string StandardError() const { return Output(); }

 private:
  static inline int count_ = 0;
};

// The executable as its users start it: --check, bad configuration files, the display, and
// hostile folders.

// --version is the package test's.
TEST(Check, ReportsEveryFindingAndExitsWithOneOnErrors) {
  ProgramFolder folder;
  const std::string ini = folder.Path() + "TARVEL80Import.ini";
  const std::string error = "Configuration error: [General] ";
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"OstrelPort=fourteen\n[TARVEL80_Port_2]\nPortType=TCPSS\n",
       error + "OstrelPort: not a port number (expected a whole number from 1 to 65535) "
               "\"fourteen\"\nConfiguration warning: [TARVEL80_Port_2] PortType=TCPSS: unknown "
               "port type (expected COM, TCPS or TCPC); the port is not used\n",
       "1 error, 1 warning"},
      {"KeepFile=LogFiles/..//TARVEL80Import.ini\n",
       error + "KeepFile: is the configuration file " + ini +
           "; the keep file needs a name of its own \"LogFiles/..//TARVEL80Import.ini\"\n",
       "1 error, 0 warnings"},
      {"KeepFile=notes.txt\n",
       error + "KeepFile: the file there is not a keep file (it does not start with the keep "
               "header) and is not written over \"notes.txt\"\n",
       "1 error, 0 warnings"},
      {"KeepFile=kept.txt\n", "", "0 errors, 0 warnings"},
  };
  folder.Write("notes.txt", "Call the fire brigade first\n");
  const std::string check = std::string(GATEWAY_EXECUTABLE) + " --check --dir " + folder.Path();
  for (const auto& [keys, findings, summary] : rows) {
    folder.Write("TARVEL80Import.ini", "[General]\n" + keys);
    EXPECT_EQ(RunShell(check),
              std::pair(findings + ini + ": " + summary + "\n", findings.empty() ? 0 : 1));
  }
  EXPECT_TRUE(folder.LogLines().empty());  // the check writes no log
  const std::string missing = "the program folder " + folder.Path() + "missing/ does not exist\n";
  EXPECT_EQ(RunShell(check + "missing"), std::pair("Configuration error: " + missing, 1));
  GatewayProcess start(folder, {"--headless", "--dir", folder.Path() + "missing"});
  EXPECT_EQ(start.WaitForExit(), 1);
  EXPECT_EQ(start.StandardError(), "tarvel80import: " + missing);
  GatewayProcess wrong(folder, {"--no-such-option"});
  EXPECT_EQ(wrong.WaitForExit(), 2);
  EXPECT_NE(wrong.StandardError().find("Usage:"), std::string::npos);
  // Without --dir the program folder is the executable's, also when found through PATH.
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=fourteen\n");
  const std::filesystem::path executable(GATEWAY_EXECUTABLE);
  const auto [output, status] =
      RunShell("cd '" + folder.Path() + "' && env PATH='" + executable.parent_path().string() +
               "' " + executable.filename().string() + " --check");
  EXPECT_NE(output.find("\n" + executable.parent_path().string() + "/TARVEL80Import.ini: "),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find(folder.Path()), std::string::npos) << output;
  EXPECT_EQ(status, 0);
}

struct Row {
  std::string Keys;     // [General] keys, then port sections
  std::string Finding;  // the check's only finding, empty for none
  // For a warning or no finding: shows that the running gateway uses the value as read.
  std::function<void(const ProgramFolder&, const NotifySocket&)> Proof = nullptr;
};

// An error ends the start with status 1 and the check's reason; with a warning the gateway runs
// with the value read as the warning says, as a service: it tells systemd its state, outlives a
// hang-up and stops on SIGTERM.
TEST(BadConfiguration, CheckSaysWhatTheStartDoes) {
  const int equipmentPort = FreePort();
  const std::string hall = "[TARVEL80_Port_0]\nDescription=Hall\nPortType=TCPS\nListenPort=" +
                           std::to_string(equipmentPort) + "\n";
  const std::string error = "Configuration error: ";
  const std::string warning = "Configuration warning: ";
  const std::string notAPort = ": not a port number (expected a whole number from 1 to 65535)";
  const Row rows[] = {
      {hall + "PollFailTimeout=5min\n",
       warning + "[TARVEL80_Port_0] PollFailTimeout=5min: read as 5 (text after the number is "
                 "ignored)",
       [&](const ProgramFolder& folder, const NotifySocket&) {
         const std::string failed =
             "TARVEL80 Connection 'Hall' (0) have failed (no events within 5 s)";
         EXPECT_TRUE(WaitUntil([&] { return folder.CountMessages(failed) == 1; }, 60s));
       }},
      {"KeepLimit=10k\n" + hall,
       warning + "[General] KeepLimit=10k: read as 10 (text after the number is ignored)",
       [&](const ProgramFolder& folder, const NotifySocket&) {
         // No alarm server: the first line is kept, the second is beyond 10 characters.
         const Client equipment(equipmentPort);
         equipment.Send(Message("ALARM") + "\r\n" + Message("ALARM") + "\r\n");
         EXPECT_TRUE(folder.WaitForMessage("Keeping limit of 10 characters reached"));
       }},
      {"LogRetentionDays=ninety\n",
       warning + "[General] LogRetentionDays=ninety: read as 0 (not a number)",
       [&](const ProgramFolder& folder, const NotifySocket& notify) {
         // The housekeeping that deletes old logs tells systemd it has run, then the state.
         EXPECT_EQ(notify.Receive(3),
                   (std::vector<std::string>{"READY=1", "WATCHDOG=1",
                                             "STATUS=Alarm server not connected; input ports "
                                             "connected: 0 of 0; lines kept: 0"}));
         EXPECT_TRUE(std::filesystem::exists(folder.Path() + "LogFiles/20000101.Log"));
       }},
      {"LogRetentionDays=30\n", "",
       [&](const ProgramFolder& folder, const NotifySocket&) {
         // Read as written, the same housekeeping deletes the old file.
         EXPECT_TRUE(
             folder.WaitForMessage("Deleted 1 log file older than 30 days (LogRetentionDays)"));
         EXPECT_FALSE(std::filesystem::exists(folder.Path() + "LogFiles/20000101.Log"));
       }},
      {"WatchDogInterval=-5\n", error + "[General] WatchDogInterval: must be 0 or more \"-5\""},
      {"StatusPort=8080x\n", error + "[General] StatusPort" + notAPort + " \"8080x\""},
      {"[TARVEL80_Port_0]\nPortType=TCPS\nListenPort=70000\n",
       error + "[TARVEL80_Port_0] ListenPort=70000" + notAPort},
      {"[TARVEL80_Port_2]\nPortType=COM\nComSetting=COM3,9600,N,8,1,0\n"
       "[SerialDevices]\nCOM3=/dev/tarvel-no-such-tty\n",
       error + "[TARVEL80_Port_2] ComSetting=COM3,9600,N,8,1,0: serial device "
               "/dev/tarvel-no-such-tty does not exist (name another in [SerialDevices] COM3=)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Keys);
    ProgramFolder folder;
    folder.Write("TARVEL80Import.ini", OstrelPortIni() + row.Keys);
    const std::string ini = folder.Path() + "TARVEL80Import.ini";
    const bool isError = row.Finding.starts_with(error);
    const std::string summary = isError               ? "1 error, 0 warnings"
                                : row.Finding.empty() ? "0 errors, 0 warnings"
                                                      : "0 errors, 1 warning";
    const std::string check = std::string(GATEWAY_EXECUTABLE) + " --check --dir " + folder.Path();
    const std::string findings = row.Finding.empty() ? "" : row.Finding + "\n";
    EXPECT_EQ(RunShell(check), std::pair(findings + ini + ": " + summary + "\n", isError ? 1 : 0));
    EXPECT_EQ(RunShell(check + " --strict").second, row.Finding.empty() ? 0 : 1);

    // Warnings start as a service, so that the housekeeping can be seen to have run.
    std::filesystem::create_directory(folder.Path() + "LogFiles");
    folder.Write("LogFiles/20000101.Log", "");
    if (!isError) folder.Write("TARVEL80Import.service.ini", "[Parameters]\nRunAsService=1\n");
    const NotifySocket notify(folder);
    GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()},
                           {{"NOTIFY_SOCKET", notify.Path()}});
    if (isError) {
      EXPECT_EQ(gateway.WaitForExit(), 1);
      const std::string reason = row.Finding.substr(row.Finding.find('['));
      EXPECT_NE(gateway.StandardError().find(reason), std::string::npos) << gateway.StandardError();
      ASSERT_FALSE(folder.Messages().empty());
      EXPECT_NE(folder.Messages().back().find(reason), std::string::npos);
      continue;
    }
    // The start line goes to the log and then to the terminal: both are waited for.
    ASSERT_TRUE(WaitUntil(
        [&] {
          return folder.CountMessages("Running: ") == 1 &&
                 gateway.StandardError().find("Running: ") != std::string::npos &&
                 gateway.StandardError().ends_with('\n');
        },
        30s))
        << gateway.StandardError();
    // The finding goes to the log once and to the terminal before the start line.
    const std::vector<std::string> messages = folder.Messages();
    EXPECT_EQ(gateway.StandardError(),
              findings + *std::find_if(messages.begin(), messages.end(), [](const auto& m) {
                return m.starts_with("Running: ");
              }) + "\n");
    EXPECT_EQ(std::count(messages.begin(), messages.end(), row.Finding),
              row.Finding.empty() ? 0 : 1);
    row.Proof(folder, notify);
    gateway.Signal(SIGHUP);
    EXPECT_TRUE(folder.WaitForMessage("Received SIGHUP: the service goes on"));
    gateway.Signal(SIGTERM);
    EXPECT_EQ(gateway.WaitForExit(), 0);
    EXPECT_EQ(folder.CountMessages("TARVEL80 Server is stopping, reason 1"), 1u);
  }
}

// Without a display (no variable, or an empty one) the gateway runs headless, notes on standard
// error; either variable alone names one: here one that is not there, so the windows fail.
TEST(Check, RunsHeadlessWithoutADisplayAndOpensWindowsWithEither) {
  using Environment = std::map<std::string, std::string>;
  const std::pair<Environment, bool> rows[] = {
      {{}, true},
      {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, true},
      {{{"DISPLAY", ":97"}, {"QT_QPA_PLATFORM", "xcb"}}, false},
      {{{"WAYLAND_DISPLAY", ":97"}, {"QT_QPA_PLATFORM", "xcb"}}, false},
  };
  for (const auto& [environment, headless] : rows) {
    SCOPED_TRACE(testing::PrintToString(environment));
    ProgramFolder folder;
    folder.Write("TARVEL80Import.ini", OstrelPortIni());
    GatewayProcess gateway(folder, {"--dir", folder.Path()}, environment);
    if (headless) {
      EXPECT_TRUE(WaitUntil([&] {
        return gateway.StandardError().ends_with("; stop: Ctrl+C, SIGTERM or File > Exit\n");
      }));
      EXPECT_TRUE(gateway.StandardError().starts_with("Running: alarm server listener on *:"))
          << gateway.StandardError();
      gateway.Signal(SIGTERM);
    }
    const std::optional<int> status = gateway.WaitForExit(10s);
    ASSERT_TRUE(status.has_value()) << gateway.StandardError();
    EXPECT_EQ(*status == 0, headless);
    EXPECT_EQ(gateway.StandardError().find("platform plugin") == std::string::npos, headless)
        << gateway.StandardError();
  }
}

// A large INI file does not stay in memory after start-up, nor of a large [SerialDevices] section
// more than the configured ports' devices: COM7's, opened, out of a million others.
TEST(HostileFolder, LargeIniFileIsGivenBackAfterStartUp) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer keeps freed memory in quarantine";
#endif
  PseudoTerminal serialLine;
  for (const bool serial : {false, true}) {
    ProgramFolder folder;
    std::string ini =
        OstrelPortIni() + (serial ? "[TARVEL80_Port_3]\nPortType=COM\nComSetting=COM7,"
                                    "9600,N,8,1,0\n[SerialDevices]\nCOM7=" +
                                        serialLine.SlavePath() + "\n"
                                  : "[Junk]\n");
    for (int n = 0; ini.size() < 10'000'000; ++n) {
      ini += serial ? "COM" + std::to_string(n + 8) + "=/dev/ttyUSB" + std::to_string(n) + "\n"
                    : "K" + std::to_string(n) + "=" + std::string(1000, 'v') + "\n";
    }
    folder.Write("TARVEL80Import.ini", ini);
    GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
    ASSERT_TRUE(WaitUntil([&] { return folder.CountMessages("Running: ") == 1; }, 60000ms))
        << gateway.StandardError();
    EXPECT_EQ(folder.CountMessages("Opened (3) port COM7"), serial ? 1u : 0u);
    // Normally about 20 MB; a copy of the values kept adds 10 MB, the serial keys over 100 MB.
    int64_t resident = -1;
    EXPECT_TRUE(WaitUntil(
        [&] { return (resident = tools::ProcStatusKb(gateway.Pid(), "VmRSS")) < 60'000; }, 10000ms))
        << resident << " kB resident";
  }
}

// A link at the lock's name (a second copy could lock another file) stops the start, saying why.
TEST(HostileFolder, LinkAtTheLockStopsTheStart) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.ini", OstrelPortIni());
  const std::string lock = folder.Path() + "TARVEL80Import.lock";
  std::filesystem::create_symlink(folder.Path() + "elsewhere.lock", lock);
  GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
  EXPECT_EQ(gateway.WaitForExit(), 1);
  const std::string refusal =
      lock + " is a symbolic link, not the running-copy lock; remove it to start";
  EXPECT_NE(gateway.StandardError().find(refusal), std::string::npos) << gateway.StandardError();
  EXPECT_EQ(folder.CountMessages(refusal), 1u);
  EXPECT_FALSE(std::filesystem::exists(folder.Path() + "elsewhere.lock"));
}

// The gateway as one running program between equipment and an alarm server: a serial line, and
// the keep file across kills and stops.

std::string ServerPort(int listenPort) {
  return "[TARVEL80_Port_0]\nPortType=TCPS\nListenPort=" + std::to_string(listenPort) + "\n";
}

// A single-line message as the equipment sends it, and the alarm server's line of it.
std::string Alarm(const std::string& tag, const std::string& text) {
  return Message("ALARM", "07-06-2017", tag, text) + "\r\n";
}
std::string EventLine(const std::string& tag, const std::string& text) {
  return "1|2017-06-07|10:20:30|" + tag + "||||" + text + "\n";
}

class InputPortsTest : public ::testing::Test {
 protected:
  void Configure(const std::string& sections, const std::string& general = "") {
    folder_.Write("TARVEL80Import.ini",
                  OstrelPortIni(ostrelPort_) + "WatchDogInterval=0\n" + general + sections);
  }
  // Starts the gateway headless and waits until every port is set up.
  void Start(const std::string& sections, const std::string& general = "") {
    Configure(sections, general);
    gateway_ = std::make_unique<GatewayProcess>(
        folder_, std::vector<std::string>{"--headless", "--dir", folder_.Path()});
    ASSERT_TRUE(folder_.WaitForMessage("Running: ", ++starts_)) << gateway_->StandardError();
  }

  // Whatever a test sent, the gateway is still running at its end.
  void TearDown() override { EXPECT_TRUE(!gateway_ || gateway_->Running()) << folder_.Path(); }

  ProgramFolder folder_;
  const int ostrelPort_ = FreePort();
  std::unique_ptr<GatewayProcess> gateway_;
  size_t starts_ = 0;
};

// A real serial line carries a message cut into pieces to the alarm server (the TCP ports are the
// walkthrough's). A status port that cannot listen is logged and told, and the gateway goes on.
TEST_F(InputPortsTest, SerialPortFramesAMessageHoweverItIsCut) {
  Listener taken;
  PseudoTerminal serialLine;
  Start("[TARVEL80_Port_2]\nPortType=COM\nComSetting=COM1,9600,N,8,1,0\n[SerialDevices]\nCOM1=" +
            serialLine.SlavePath() + "\n",
        "StatusPort=" + std::to_string(taken.Port()) + "\n");
  const std::string failed =
      "Could not set status port (127.0.0.1:" + std::to_string(taken.Port()) +
      ") to listen mode, err: ";
  Client alarmServer(ostrelPort_);
  EXPECT_TRUE(folder_.WaitForMessage("Accepted Ostrel connection from 127.0.0.1:" +
                                     std::to_string(alarmServer.LocalPort())));
  // The status server starts after the "Running:" line, before the event loop takes the alarm
  // server's connection: by now its failure is logged and told.
  EXPECT_EQ(folder_.CountMessages(failed), 1u);
  EXPECT_NE(gateway_->StandardError().find(failed), std::string::npos) << gateway_->StandardError();
  // Date, time, tag and line end all cut apart; NUL, XON, XOFF, DEL and 8-bit bytes in the text.
  const std::string text = std::string("Door forced open \0\x11\x13\x7F\x80\xE4\xFF", 24);
  SendInPieces(serialLine, Alarm("ZONE-COM", text), 3);
  EXPECT_EQ(alarmServer.ReadUntil(EventLine("ZONE-COM", text)), EventLine("ZONE-COM", text));
}

// Only the real process shows that kept lines outlive kill -9 and a restart.
using KeepFile = InputPortsTest;
TEST_F(KeepFile, LinesKeptInTheFileOutliveAKillAndGoOutOnceInOrderBeforeNewerOnes) {
  const int inputPort = FreePort();
  const std::string keys = "KeepFile=kept.dat\nKeepLimit=10000000\n";
  std::string input, expected;
  for (int n = 100000; n < 110000; ++n) {  // tags all of one length
    input += Alarm("K" + std::to_string(n), "Kept");
    expected += EventLine("K" + std::to_string(n), "Kept");
  }
  const std::string kept = folder_.Path() + "kept.dat";
  auto keptBytes = [&] {
    return std::filesystem::exists(kept) ? std::filesystem::file_size(kept) : 0;
  };
  Start(ServerPort(inputPort), keys);
  Client(inputPort).Send(input);
  // Records hold the lines in order: the last one ends the file.
  ASSERT_TRUE(
      WaitUntil([&] { return ReadWholeFile(kept).ends_with(EventLine("K109999", "Kept")); }, 30s));
  gateway_->Signal(SIGKILL);
  ASSERT_EQ(gateway_->WaitForExit(), -1);

  Start(ServerPort(inputPort), keys);
  const std::string restored = "Keep file " + folder_.Path() + "kept.dat: 10000 event lines";
  ASSERT_TRUE(folder_.WaitForMessage(restored));
  Client(inputPort).Send(Alarm("NEWER", "Kept"));
  Client alarmServer(ostrelPort_);
  alarmServer.ReadUntil(EventLine("NEWER", "Kept"), 30s);
  EXPECT_TRUE(alarmServer.ReadUntil("never", 300ms) == expected + EventLine("NEWER", "Kept"));
  EXPECT_EQ(folder_.CountMessages(restored), 1u);
  EXPECT_TRUE(WaitUntil([&] { return keptBytes() == 48; })) << "the sent lines leave the file";
}

// 10 MB kept, drained by a slow alarm server through a stop and a kill: nothing is lost.
using KeepFileDrain = InputPortsTest;
TEST_F(KeepFileDrain, NothingKeptIsLostWhenTheGatewayIsKilledOrStoppedMidDrain) {
  const int inputPort = FreePort();
  Configure(ServerPort(inputPort), "KeepFile=kept.dat\nKeepLimit=100000000\n");
  const tools::KeepDrainResult result = tools::DrainKeptLinesWithInterruptions(
      folder_, ostrelPort_, inputPort,
      [&] {
        return std::make_unique<tools::ChildProcess>(
            std::vector<std::string>{GATEWAY_EXECUTABLE, "--headless", "--dir", folder_.Path()},
            folder_.Path() + "stderr.txt");
      },
      {.Lines = 100000, .Signals = {SIGTERM, SIGKILL}, .BytesPerSecond = 400000, .RoundMs = 1000});
  ASSERT_TRUE(result.Ok) << result.Problem;
  EXPECT_EQ(result.Lost, 0u);
  // Twice only when a kill falls between the system taking a line and its mark in the file.
  EXPECT_LE(result.Doubled, 2000u);
  EXPECT_EQ(result.LeftAtStops, 1u) << "the stop says what it left for the next start";
}

// The status server and the listeners' allow lists and bind addresses, on real sockets.

const std::string DoorForced = Message("ALARM") + "\r\n";

// One request on a connection of its own, from `source`: the answer, to the end of its body.
std::string Ask(int port, const std::string& request, const std::string& source = "") {
  Client client("127.0.0.1", port, source);
  client.Send(request);
  std::string answer = client.ReadUntil("\r\n\r\n");
  const size_t length = answer.find("Content-Length: ");
  if (length == std::string::npos) return answer;
  const size_t end = answer.find("\r\n\r\n") + 4 + std::stoul(answer.substr(length + 16));
  WaitUntil([&] { return (answer = client.ReadUntil(std::string(1, '\0'), 20ms)).size() >= end; });
  return answer;
}

std::string Get(int port, const std::string& path, const std::string& source = "") {
  return Ask(port, "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", source);
}

// The page as headless Chromium lays it out 1200 and 400 px wide (frames: a window is 500 px at
// least), once the port tables are filled: per frame "view WIDTH: fits|scrolls, fonts alike|differ"
// (a horizontal scrollbar; the table's font against the log's), then "row " and each port row's
// cells joined by " | ". Every process of the browser ends before this returns.
std::string ShowPage(const ProgramFolder& folder, int statusPort) {
  std::string document = R"(<!DOCTYPE html><html><body>
<iframe style="border:0;width:1200px;height:900px"></iframe>
<iframe style="border:0;width:400px;height:800px"></iframe>
<script>
const base="http://127.0.0.1:PORT/";
fetch(base).then(r=>r.text()).then(page=>{
  for(const f of document.querySelectorAll("iframe"))f.srcdoc=page.replace("<head>","<head><base href='"+base+"'>");
  probe();
});
function probe(tries=100){
  const frames=Array.from(document.querySelectorAll("iframe"));
  const filled=f=>{const d=f.contentDocument,b=d&&d.getElementById("ports");return b&&b.rows.length>0;};
  if(!frames.every(filled)&&tries>0)return setTimeout(()=>probe(tries-1),100);
  let lines="";
  for(const f of frames){
    const d=f.contentDocument,e=d.documentElement,font=s=>d.defaultView.getComputedStyle(d.querySelector(s)).fontSize;
    const right=Math.max(e.scrollWidth,...Array.from(d.body.querySelectorAll("*"),x=>Math.ceil(x.getBoundingClientRect().right)));
    lines+="view "+f.offsetWidth+": "+(right<=e.clientWidth?"fits":"scrolls")+", fonts "+(font("#ports td")==font("#log")?"alike":"differ")+"\n";
    for(const r of d.getElementById("ports").rows)lines+="row "+Array.from(r.cells,c=>c.textContent).join(" | ")+"\n";
  }
  document.body.insertAdjacentHTML("beforeend","<pre id=probe></pre>");document.getElementById("probe").textContent=lines;
}
</script></body></html>)";
  document.replace(document.find("PORT"), 4, std::to_string(statusPort));
  folder.Write("page.html", document);
  const std::string dump = folder.Path() + "dom.html";
  tools::ChildProcess browser(
      {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
       "--no-first-run", "--disable-background-networking", "--disable-component-update",
       "--disable-sync", "--disable-web-security", "--user-data-dir=" + folder.Path() + "browser",
       "--window-size=1700,1000", "--virtual-time-budget=15000", "--dump-dom",
       "file://" + folder.Path() + "page.html"},
      dump);
  const std::optional<int> status = browser.WaitForExit(120s);
  kill(-browser.Pid(), SIGKILL);  // anything of the browser's still in its process group
  EXPECT_EQ(status, 0) << ReadWholeFile(dump);
  const std::string text = ReadWholeFile(dump);
  const size_t begin = text.find("<pre id=\"probe\">");  // as the browser writes it back
  return begin == std::string::npos
             ? text
             : text.substr(begin + 16, text.find("</pre>", begin) - begin - 16);
}

// What only real sockets and the real process show: peer addresses as the listeners see them (an
// IPv4 client on the dual-stack listener and on one bound to IPv4, matched by either spelling), the
// counters while lines flow, HEAD, the 8 KiB cut-off, and the page in a browser.
TEST(StatusServer, ServesCountersWhileLinesFlowToScrapersAndTheBrowser) {
  ProgramFolder folder;
  const int ostrelPort = FreePort(), equipmentPort = FreePort(), statusPort = FreePort();
  const int downPort = FreePort();  // the TCP client port's equipment, which is down
  folder.Write("TARVEL80Import.ini",
               OstrelPortIni(ostrelPort) + "StatusPort=" + std::to_string(statusPort) +
                   "\nOstrelAllowedHosts=10.9.9.9, 127.0.0.2/32\nStatusAllowedHosts=127.0.0.1\n"
                   "[TARVEL80_Port_0]\nDescription=Front panel\nPortType=TCPS\n"
                   "ListenAddress=127.0.0.1\nAllowedHosts=::ffff:127.0.0.5\nListenPort=" +
                   std::to_string(equipmentPort) +
                   "\n[TARVEL80_Port_1]\nDescription=Warehouse panel, loading bay north side\n"
                   "PortType=TCPC\nRemoteAddress=127.0.0.1:" +
                   std::to_string(downPort) + "\n");
  GatewayProcess gateway(folder, {"--dir", folder.Path()},
                         {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}});
  ASSERT_TRUE(folder.WaitForMessage("Status server listening at 127.0.0.1:"))
      << gateway.StandardError();
  Client alarmServer("127.0.0.1", ostrelPort, "127.0.0.2");
  ASSERT_TRUE(folder.WaitForMessage("Accepted Ostrel connection from 127.0.0.2:"));
  for (const int port : {ostrelPort, equipmentPort}) {
    for (int n = 0; n < 3; ++n) {  // the kernel makes the connection, the gateway ends it at once
      Client refused("127.0.0.1", port, "127.0.0.3");
      EXPECT_TRUE(refused.Connected() && refused.WaitForClose() && refused.Received().empty());
    }
  }
  EXPECT_FALSE(Client("127.0.0.2", equipmentPort, "127.0.0.5", 300ms).Connected());
  Client equipment("127.0.0.1", equipmentPort, "127.0.0.5");
  for (int n = 0; n < 3; ++n) equipment.Send(DoorForced);
  equipment.Send("not an event\n");
  ASSERT_FALSE(alarmServer.ReadUntil("Door forced open\n").empty());
  EXPECT_EQ(folder.CountMessages("Refused Ostrel connection from 127.0.0.3:"), 1u);
  EXPECT_EQ(folder.CountMessages("Connection (0) refused from 127.0.0.3:"), 1u);
  EXPECT_EQ(folder.CountMessages("Connection (0) accepted from 127.0.0.5:"), 1u);

  const std::string bytes = std::to_string(3 * DoorForced.size() + 13);
  const std::string counts = "\"bytesReceived\":" + bytes +
                             ",\"linesReceived\":4,\"eventsForwarded\":3,\"linesRejected\":1,";
  std::string json;
  EXPECT_TRUE(WaitUntil([&] {
    return (json = Get(statusPort, "/status.json")).find(counts) != std::string::npos;
  })) << json;
  EXPECT_NE(json.find("\"listening\":true,"), std::string::npos) << json;
  EXPECT_TRUE(WaitUntil([&] {  // the event loop ticks, as scraped
    return std::regex_search(Get(statusPort, "/metrics"),
                             std::regex("\ntarvel80import_supervision_ticks_total [1-9]"));
  }));

  // Requests up to 8 KiB are answered; the answer's head tells what a client may do next.
  const auto sized = [](size_t size) {
    return "GET / HTTP/1.1\r\nConnection: close\r\nX: " + std::string(size - 42, 'a') + "\r\n\r\n";
  };
  const std::pair<std::string, std::string> rows[] = {
      {"GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "200 [\\s\\S]*no-store"},
      {"DELETE / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
       "405 [\\s\\S]*Allow: GET, HEAD"},
      {sized(8192), "200 "},
      {sized(8193), "413 "},
      {"GET / HTTP/1.1\r\nContent-Length: 9000\r\n\r\n" + std::string(9000, 'a'), "413 "},
  };
  for (const auto& [request, answer] : rows) {
    EXPECT_TRUE(std::regex_search(Ask(statusPort, request), std::regex("^HTTP/1.1 " + answer)))
        << request.substr(0, 40);
  }
  EXPECT_TRUE(Get(statusPort, "/healthz", "127.0.0.3").starts_with("HTTP/1.1 403 "));
  EXPECT_EQ(folder.CountMessages("Refused status connection from 127.0.0.3:"), 1u);

  // HEAD: GET's head, Content-Length included, and no body: the next answer follows at once.
  const std::string get = Get(statusPort, "/");
  Client client("127.0.0.1", statusPort);
  client.Send(
      "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n"
      "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  const std::string both = client.ReadUntil("listening\n");
  const std::string head = both.substr(0, both.find("\r\n\r\n") + 4);
  EXPECT_EQ(head, get.substr(0, get.find("\r\n\r\n") + 4));
  EXPECT_NE(head.find("\r\nContent-Length: "), std::string::npos);
  EXPECT_EQ(both.substr(head.size(), 16), "HTTP/1.1 200 OK\r") << both;

  // The page's script fills the port table from /status.json; both widths fit.
  const bool browser = RunShell("command -v chromium").second == 0;
  if (browser) {
    // The next attempt carries its date when it falls on another day (a run just before midnight).
    std::string view =
        ": fits, fonts alike\nrow 0 \\| Front panel \\| TCP server \\| Connected to "
        "127\\.0\\.0\\.5:[0-9]+ \\| BYTES \\| 4 \\| 3 \\| 1 \\| .*\nrow 1 \\| Warehouse panel, "
        "loading bay north side \\| TCP client \\| Disconnected from 127\\.0\\.0\\.1:DOWN, next "
        "attempt at ([0-9-]{10} )?[0-9:]{8} \\(in [0-9]+ (min|s)[0-9a-z ]*\\) \\| 0 \\| .*\n";
    view.replace(view.find("BYTES"), 5, bytes);
    view.replace(view.find("DOWN"), 4, std::to_string(downPort));
    const std::string probe = ShowPage(folder, statusPort);
    EXPECT_TRUE(std::regex_match(probe, std::regex("view 1200" + view + "view 400" + view)))
        << probe;
  }

  // On the desktop SIGINT writes one stop line (each signal's reason is the unit test's).
  gateway.Signal(SIGINT);
  EXPECT_EQ(gateway.WaitForExit(), 0);
  EXPECT_EQ(folder.CountMessages("TARVEL80 Server is stopping"), 1u);
  EXPECT_EQ(folder.Messages().back(), "TARVEL80 Server is stopping, reason 0");
  if (!browser) GTEST_SKIP() << "chromium is not installed";
}

// The live process with `text` on its command line, or 0 (an ended process or zombie has none).
pid_t ProcessWith(const std::string& text) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc"))
    if (ReadWholeFile(entry.path() / "cmdline").find(text) != std::string::npos)
      return std::atoi(entry.path().filename().c_str());
  return 0;
}

// A test process killed where no destructor runs (ctest's timeout) takes its gateway with it.
TEST(GatewayProcess, DiesWithTheTestThatStartedIt) {
  ProgramFolder folder;
  folder.Write("TARVEL80Import.ini", OstrelPortIni());
  const pid_t test = fork();
  if (test == 0) {
    GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
    for (;;) pause();
  }
  ASSERT_TRUE(folder.WaitForMessage("Running: "));
  const pid_t gateway = ProcessWith(folder.Path());
  ASSERT_GT(gateway, 0);
  kill(test, SIGKILL);
  waitpid(test, nullptr, 0);
  const bool gone = WaitUntil([&] { return ProcessWith(folder.Path()) == 0; });
  EXPECT_TRUE(gone) << "gateway " << gateway << " outlived its test";
  if (!gone) kill(gateway, SIGKILL);
}

}  // namespace
}  // namespace tarvel::integration
