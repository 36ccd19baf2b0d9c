#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../../tools/ToolSupport.h"
#include "diag/FaultLog.h"
#include "diag/LogFile.h"
#include "fakes/FakeClock.h"
#include "platform/EventLoopWait.h"
#include "platform/posix/LinuxServiceControl.h"
#include "platform/posix/PosixProcessControl.h"
#include "platform/qt/QtEventQueue.h"
#include "platform/qt/QtSerialControl.h"
#include "platform/qt/QtSocketControl.h"
#include "platform/qt/QtUpdateTimer.h"
#include "support/AllByteValues.h"
#include "support/TempFolder.h"

namespace tarvel {
namespace {

// The POSIX platform's own files: the service registration and settings, and the running-copy lock.

// A program folder, a unit folder and a stand-in for systemctl that records its arguments.
class LinuxServiceControlTest : public ::testing::Test {
 protected:
  LinuxServiceControlTest() {
    std::filesystem::create_directories(programPath_);
    std::filesystem::create_directories(root_.Path() + "units");
    root_.Write("systemctl", "#!/bin/sh\necho \"$@\" >> '" + root_.Path() + "calls'\n");
    std::filesystem::permissions(root_.Path() + "systemctl", std::filesystem::perms::owner_all);
    setenv("TARVEL80IMPORT_UNIT_DIR", (root_.Path() + "units").c_str(), 1);
    setenv("TARVEL80IMPORT_SYSTEMCTL", (root_.Path() + "systemctl").c_str(), 1);
  }
  ~LinuxServiceControlTest() override {
    for (const char* name :
         {"TARVEL80IMPORT_SERVICE_USER", "TARVEL80IMPORT_UNIT_DIR", "TARVEL80IMPORT_SYSTEMCTL"})
      unsetenv(name);
  }
  std::string UnitFile() const { return root_.Path() + "units/TARVEL80ImportForOstrel.service"; }
  LinuxServiceControl Service(const std::string& folder = "") const {
    return LinuxServiceControl(ProgramLayout::InFolder(folder.empty() ? programPath_ : folder),
                               "/usr/bin/tarvel80import");
  }

  TempFolder root_;
  std::string programPath_ = root_.Path() + "my gateway/";
};

// Each way /I can fail (systemctl, the account, a folder name that could steer the unit) says why.
TEST_F(LinuxServiceControlTest, InstallFailuresSayWhy) {
  const std::string control = "the program folder's path holds a control character (byte ";
  const std::string notUtf8 = "the program folder's path is not valid UTF-8 (byte ";
  const std::tuple<std::string, std::string, std::string, std::string> rows[] = {
      {"my gateway", "false", "", "false daemon-reload failed (exit status 1)"},
      {"my gateway", "/nonexistent/systemctl", "",
       "cannot run /nonexistent/systemctl: No such file or directory"},
      {"my gateway", "true", "no-such-user-x",
       "TARVEL80IMPORT_SERVICE_USER=no-such-user-x: not an account, or the program folder's "
       "files cannot be handed over to it"},
      {"x\nExecStartPre=/tmp/evil.sh", "true", "", control + "0x0A at position"},
      {"c1\xC2\x85line", "true", "", control + "0x85"},  // U+0085, a line break to some readers
      {"l\xE5t", "true", "", notUtf8 + "0xE5 at position"},
      {"over\xC0\xAFlong", "true", "", notUtf8 + "0xC0"},  // an overlong "/"
  };
  for (const auto& [folder, systemctl, user, reason] : rows) {
    setenv("TARVEL80IMPORT_SYSTEMCTL", systemctl.c_str(), 1);
    setenv(LinuxServiceControl::ServiceUserVariable, user.c_str(), 1);
    LinuxServiceControl service = Service(root_.Path() + folder + "/");
    EXPECT_FALSE(service.Install()) << reason;
    EXPECT_EQ(service.LastError().substr(0, reason.size()), reason);
    EXPECT_FALSE(std::filesystem::exists(UnitFile())) << reason;
  }
  setenv("TARVEL80IMPORT_UNIT_DIR", (root_.Path() + "missing/folder").c_str(), 1);
  EXPECT_FALSE(Service().Install());
}

// /I that fails at its last step (enabling, or storing the service flag afterwards) leaves the
// registration as it found it: an earlier unit back in place and still enabled, else no unit and
// nothing enabled. Only a kept installation drops the earlier unit; /U removes it once.
TEST_F(LinuxServiceControlTest, FailedInstallPutsTheEarlierRegistrationBack) {
  const std::string enable = "daemon-reload\nenable " + UnitFile() + "\n";
  const std::string disable = "disable TARVEL80ImportForOstrel.service\n";
  // An earlier unit, enable fails, FinishInstall's keep, the unit left ("earlier", "new" or "" for
  // none) and the calls.
  const std::tuple<bool, bool, std::optional<bool>, std::string, std::string> rows[] = {
      {true, false, false, "earlier", enable + "daemon-reload\n"},
      {false, false, false, "", enable + disable + "daemon-reload\n"},
      {true, true, std::nullopt, "earlier", enable + "daemon-reload\n"},
      {false, true, std::nullopt, "", enable + disable + "daemon-reload\n"},
      {true, false, true, "new", enable},
  };
  for (const auto& [earlier, enableFails, keep, expectedUnit, calls] : rows) {
    SCOPED_TRACE(calls + expectedUnit);
    std::filesystem::remove(UnitFile());
    std::filesystem::remove(root_.Path() + "calls");
    if (earlier) root_.Write("units/TARVEL80ImportForOstrel.service", "earlier");
    root_.Write("systemctl", "#!/bin/sh\necho \"$@\" >> '" + root_.Path() + "calls'\n" +
                                 (enableFails ? "[ \"$1\" != enable ]\n" : ""));
    LinuxServiceControl service = Service();
    ASSERT_EQ(service.Install(), !enableFails);
    if (keep) service.FinishInstall(*keep);
    const std::string unit = root_.ReadFile("units/TARVEL80ImportForOstrel.service");  // or none
    EXPECT_EQ(unit, expectedUnit == "new" ? service.UnitText() : expectedUnit);
    EXPECT_EQ(root_.ReadFile("calls"), calls);
    const auto units = std::filesystem::directory_iterator(root_.Path() + "units");
    EXPECT_EQ(std::distance(begin(units), end(units)), expectedUnit.empty() ? 0 : 1)
        << "nothing else left in the unit folder";
    if (enableFails) {
      EXPECT_EQ(service.LastError(), root_.Path() + "systemctl enable failed (exit status 1)");
    }
  }
  LinuxServiceControl service = Service();
  ASSERT_TRUE(service.Uninstall());
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));
  EXPECT_EQ(root_.ReadFile("calls"), enable + disable + "daemon-reload\n");
  EXPECT_FALSE(service.Uninstall()) << "nothing left to uninstall";
}

// Program and folder written so systemd expands no specifier, variable or space; the account.
TEST_F(LinuxServiceControlTest, UnitQuotesTheFolderAndRunsAsTheNamedUser) {
  const std::string quoted = "\"" + programPath_ + "\"";
  const std::string exec = "ExecStart=\"/opt/tarvel 80/tarvel80import\" --dir ";
  const std::tuple<std::string, ProgramLayout, std::vector<std::string>> rows[] = {
      // clang-format off
      {"", ProgramLayout::InFolder(programPath_),
       {exec + quoted + "\n", "ReadWritePaths=" + quoted + "\n"}},
      {"tarvel", ProgramLayout::InFolder("/srv/a%b$c/"),
       {exec + "/srv/a%%b$$c/\n", "ReadWritePaths=/srv/a%%b$c/\n", "User=tarvel\n"}},
      // The service keeps the layout it was installed from; it writes in both folders.
      {"", {"/var/lib/t/", "/etc/t/north.ini", "/var/log/t/"},
       {exec + "/var/lib/t/ --config /etc/t/north.ini --log-dir /var/log/t/\n",
        "ReadWritePaths=/var/lib/t/\nReadWritePaths=/var/log/t/\n"}},
      // clang-format on
  };
  for (const auto& [user, layout, lines] : rows) {
    setenv("TARVEL80IMPORT_SERVICE_USER", user.c_str(), 1);
    const std::string unit =
        LinuxServiceControl(layout, "/opt/tarvel 80/tarvel80import").UnitText();
    for (const std::string& line : lines)
      EXPECT_NE(unit.find(line), std::string::npos) << line << unit;
    EXPECT_EQ(unit.find("\nUser=") != std::string::npos, !user.empty()) << unit;
    EXPECT_EQ(unit.find("SupplementaryGroups=dialout\n") != std::string::npos,
              !user.empty() && getgrnam("dialout") != nullptr);
  }
}

// An odd but sound folder name gets a unit that systemd-analyze passes (where a plain one passes).
TEST_F(LinuxServiceControlTest, SystemdReadsTheUnitOfAnOddFolderName) {
  const auto verify = [&](const std::string& unit) {
    const int status = std::system(
        ("systemd-analyze verify '" + unit + "' >'" + root_.Path() + "out' 2>&1").c_str());
    return std::pair(root_.ReadFile("out"), status);
  };
  root_.Write("plain.service", "[Service]\nExecStart=/bin/true\n");
  const auto plain = verify(root_.Path() + "plain.service");
  if (plain.second != 0) GTEST_SKIP() << "systemd-analyze does not work here: " << plain.first;
  const std::string folder = root_.Path() + "l\xC3\xA5t \"q\" 'a' %n $HOME \\b/";
  std::filesystem::create_directories(folder);
  ASSERT_TRUE(LinuxServiceControl(ProgramLayout::InFolder(folder), "/bin/true").Install());
  const auto verified = verify(UnitFile());
  EXPECT_EQ(verified.second, 0) << verified.first;
  for (const char* complaint : {"not UTF-8", "Unknown", "Failed", "ignoring", "Invalid", "rror"})
    EXPECT_EQ(verified.first.find(complaint), std::string::npos) << verified.first;
}

// /I as root hands the log folder and lock to the account, never the target of a planted link.
TEST_F(LinuxServiceControlTest, InstallHandsTheProgramsFilesToTheServiceUser) {
  if (geteuid() != 0) GTEST_SKIP() << "changing owners needs root";
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no account nobody";
  std::filesystem::create_directories(programPath_ + "LogFiles");
  std::ofstream(programPath_ + "LogFiles/20170607.Log") << "x";
  std::ofstream(programPath_ + "TARVEL80Import.lock");
  std::ofstream(programPath_ + "TARVEL80Import.ini") << "[General]\n";
  root_.Write("secret", "x");
  std::filesystem::create_symlink(root_.Path() + "secret", programPath_ + "LogFiles/link");
  setenv("TARVEL80IMPORT_SERVICE_USER", "nobody", 1);

  ASSERT_TRUE(Service().Install());

  auto owner = [](const std::string& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_uid;
  };
  for (const char* name :
       {"LogFiles", "LogFiles/20170607.Log", "TARVEL80Import.lock", "LogFiles/link"})
    EXPECT_EQ(owner(programPath_ + name), nobody->pw_uid) << name;
  EXPECT_EQ(owner(root_.Path() + "secret"), 0u);
  EXPECT_EQ(owner(programPath_ + "TARVEL80Import.ini"), 0u)
      << "the configuration stays the admin's";
}

// Kept across instances, read only up to their bound, and never written through a link.
TEST_F(LinuxServiceControlTest, SettingsStoreKeepsItsValuesAcrossInstances) {
  {
    LinuxServiceControl service = Service();
    EXPECT_EQ(service.GetSetting("Parameters", "RunAsService", "0"), "0");
    service.SaveSetting("Parameters", "RunAsService", "1");
    service.SaveSetting("Other", "Key", "v");
    service.SaveSetting("parameters", "runasservice", "1");
  }
  EXPECT_EQ(Service().GetSetting("PARAMETERS", "RunAsService", "0"), "1");
  EXPECT_EQ(Service().GetSetting("Other", "Key", ""), "v");
  EXPECT_EQ(tools::ReadWholeFile(programPath_ + "TARVEL80Import.service.ini"),
            "[Other]\nKey=v\n[Parameters]\nRunAsService=1\n");
  EXPECT_FALSE(std::filesystem::exists(programPath_ + "TARVEL80Import.service.ini.tmp"));
  // Read only up to their bound: a value past it is not seen.
  root_.Write("my gateway/TARVEL80Import.service.ini",
              "[Parameters]\n" + std::string(1 << 20, ';') + "\nRunAsService=1\n");
  EXPECT_EQ(Service().GetSetting("Parameters", "RunAsService", "0"), "0");
  // A link put at the temporary file's name is not written through.
  root_.Write("target", "kept\n");
  const std::string temporary = programPath_ + LinuxServiceControl::SettingsFileName + ".tmp";
  std::filesystem::create_symlink(root_.Path() + "target", temporary);
  LinuxServiceControl linked = Service();
  EXPECT_FALSE(linked.SaveSetting("Parameters", "RunAsService", "1"));
  EXPECT_EQ(linked.LastError().rfind("cannot store RunAsService: ", 0), 0u) << linked.LastError();
  EXPECT_EQ(root_.ReadFile("target"), "kept\n");
  EXPECT_TRUE(std::filesystem::is_symlink(temporary));
}

// Whether another process can take the folder's lock (flock locks belong to the open file).
bool ChildCanTakeLock(const std::string& folder) {
  const pid_t child = fork();
  std::string refusal;
  if (child == 0) _exit(PosixProcessControl().TakeRunningCopyLock(folder, refusal) ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(PosixProcessControl, OneRunningCopyPerProgramFolder) {
  TempFolder root;
  std::filesystem::create_directories(root.Path() + "a");
  std::filesystem::create_directories(root.Path() + "b");
  EXPECT_TRUE(ChildCanTakeLock(root.Path() + "a/"));  // released when the child ended
  PosixProcessControl process;
  std::string refusal;
  ASSERT_TRUE(process.TakeRunningCopyLock(root.Path() + "a/", refusal));
  EXPECT_FALSE(ChildCanTakeLock(root.Path() + "a/"));
  EXPECT_TRUE(ChildCanTakeLock(root.Path() + "b/"));
}

// The event loop's own pieces: the queue that delivers every event, and the update timer.

using test::RunEventsFor;
using test::WaitUntil;

// Events of a destroyed context are skipped.
TEST(QtEventQueueTest, EventsRunInOrderOneAtATimeAndNeverInsideAHandler) {
  QObject context;
  auto gone = std::make_unique<QObject>();
  std::string order;
  int depth = 0, nested = 0;
  const auto event = [&](char name) {
    return [&, name] {
      nested += depth++ > 0;
      order += name;
      if (name == 'a') {
        QtEventQueue::Post(&context, "test", [&] { order += 'c'; });  // queued behind b
        RunEventsFor(20);  // a nested loop (a modal box) delivers nothing meanwhile
      }
      --depth;
    };
  };
  QtEventQueue::Post(&context, "test", event('a'));
  QtEventQueue::Post(gone.get(), "test", [&] { order += 'x'; });
  QtEventQueue::Post(&context, "test", event('b'));
  gone.reset();
  EXPECT_EQ(order, "") << "posting only queues";
  EXPECT_TRUE(WaitUntil([&] { return QtEventQueue::Waiting() == 0; }));
  RunEventsFor(10);
  EXPECT_EQ(order, "abc");
  EXPECT_EQ(nested, 0);
}

TEST(QtEventQueueTest, HandlerScopeHoldsEventsBackUntilItEnds) {
  QObject context;
  int delivered = 0;
  std::string afterHandler;
  {
    QtEventQueue::HandlerScope scope;
    QtEventQueue::Post(&context, "test", [&] { ++delivered; });
    QtEventQueue::AfterHandler(&context, "test", [&] { afterHandler += 'a'; });
    { QtEventQueue::HandlerScope nested; }
    RunEventsFor(30);
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(afterHandler, "") << "work after the handler waits for its outermost scope";
  }
  EXPECT_EQ(afterHandler, "a");
  QtEventQueue::AfterHandler(&context, "test", [&] { afterHandler += 'b'; });
  EXPECT_EQ(afterHandler, "ab") << "outside a handler the work is done at once";
  EXPECT_TRUE(WaitUntil([&] { return delivered == 1; }));
}

// A fault leaving a handler is logged by the fence, one line a minute a place, and all goes on.
TEST(QtEventQueueTest, FaultReachesTheFenceWhichLogsItAndGoesOn) {
  FakeClock clock;
  LogFile log(clock, "/nonexistent/");
  std::vector<std::string> lines;
  log.SetObserver([&](const std::string& line) { lines.push_back(line.substr(18)); });
  FaultLog faults(clock, log);
  QtEventQueue::SetFaultReport(
      [&](const std::string& where, const std::string& what) { faults.Write(where, what); });
  QObject context;
  int handled = 0;
  const auto fail = [] { throw std::runtime_error("view failed"); };
  QtEventQueue::Post(&context, "socket DataArrival", fail);
  QtEventQueue::Post(&context, "socket DataArrival", fail);
  QtEventQueue::Post(&context, "timer tick", [&] { ++handled; });
  EXPECT_TRUE(WaitUntil([&] { return handled == 1; }));
  clock.Set(2017, 6, 7, 12, 35, 56);
  QtEventQueue::RunHandler("socket DataArrival", [] { throw 42; });
  QtEventQueue::SetFaultReport(nullptr);
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "Unexpected fault in socket DataArrival: view failed; the gateway goes on\r\n",
                "Unexpected fault in socket DataArrival: an exception of unknown type; the "
                "gateway goes on (1 more faults since the last report)\r\n"}));
}

TEST(QtUpdateTimerTest,
     TicksFromTheStartNeverOverlapFollowOneIntervalAfterTheLastAndStopWhenDisabled) {
  QtUpdateTimer timer;
  QElapsedTimer clock;
  clock.start();
  std::vector<qint64> starts, ends;
  int depth = 0, overlaps = 0;
  timer.SetHandler([&] {
    overlaps += depth++ > 0;
    timer.SetEnabled(false);
    starts.push_back(clock.elapsed());
    RunEventsFor(starts.size() == 1 ? 150 : 0);  // a slow tick, longer than the interval
    ends.push_back(clock.elapsed());
    timer.SetEnabled(true);
    --depth;
  });
  ASSERT_TRUE(WaitUntil([&] { return starts.size() >= 3; }, 2000)) << "enabled from the start";
  EXPECT_EQ(overlaps, 0);
  for (size_t tick = 1; tick < starts.size(); ++tick)
    EXPECT_GE(starts[tick] - ends[tick - 1], 95) << "tick " << tick;
  timer.SetEnabled(false);
  const size_t ticks = starts.size();
  RunEventsFor(250);
  EXPECT_EQ(starts.size(), ticks) << "a disabled timer does not tick";
}

// The equipment's and the alarm server's transports on the Qt layer: TCP sockets and serial lines.

// A socket and what its handlers saw; the On* hooks add a test's own reaction.
struct Probe {
  explicit Probe(int64_t sendQueueLimit = QtSocketControl::DefaultSendQueueLimit,
                 int stallMs = QtSocketControl::DefaultStallMs)
      : Socket(sendQueueLimit, stallMs) {
    SocketHandlers handlers;
    handlers.ConnectionRequest = [this](int32_t id) {
      ++Requests;
      OnRequest(id);
    };
    handlers.Connect = [this] { ++Connects; };
    handlers.DataArrival = [this](std::string_view bytes) {
      Received += bytes;
      OnData();
    };
    handlers.Close = [this] {
      ++Closes;
      OnClose();
    };
    handlers.Error = [this](const std::string& text) { Errors.push_back(text); };
    handlers.SendQueueLow = [this] { ++QueueLows; };
    handlers.LinesWritten = [this](uint64_t bytes) { LinesWritten += bytes; };
    Socket.SetHandlers(handlers);
  }

  QtSocketControl Socket;
  int Requests = 0, Connects = 0, Closes = 0, QueueLows = 0;
  uint64_t LinesWritten = 0;
  std::vector<std::string> Errors;
  std::string Received;
  std::function<void(int32_t)> OnRequest = [](int32_t) {};
  std::function<void()> OnData = [] {}, OnClose = [] {};
};

// Lines go out at once, and a peer gone without a word is noticed within two minutes.
void ExpectKeepAlive(intptr_t descriptor) {
  ASSERT_NE(descriptor, -1);
  const auto option = [descriptor](int level, int name) {
    int value = -1;
    socklen_t size = sizeof(value);
    getsockopt(static_cast<int>(descriptor), level, name, &value, &size);
    return value;
  };
  EXPECT_NE(option(SOL_SOCKET, SO_KEEPALIVE), 0);
  EXPECT_NE(option(IPPROTO_TCP, TCP_NODELAY), 0);
  EXPECT_LE(option(IPPROTO_TCP, TCP_KEEPIDLE) +
                option(IPPROTO_TCP, TCP_KEEPINTVL) * option(IPPROTO_TCP, TCP_KEEPCNT),
            120);
}

class QtSocketControlTest : public ::testing::Test {
 protected:
  // The listener listens on every address; each request is offered to `taker`.
  void ListenAndAcceptOn(Probe& taker) {
    if (listener.Socket.State() != SocketControl::Listening) {
      listener.Socket.SetLocalPort(0);
      ASSERT_FALSE(listener.Socket.Listen().Failed());
    }
    listener.OnRequest = [&taker](int32_t id) { EXPECT_FALSE(taker.Socket.Accept(id).Failed()); };
  }

  // A peer on a plain descriptor: to be read on another thread, or connected without Qt.
  int ConnectRawPeer() { return tools::ConnectOnce(listener.Socket.LocalPort()); }

  Probe listener;
  Probe data;
};

// A client on "localhost": refused, it raises one error and nothing else. Then it and the data
// socket that takes its connection keep it alive and carry every byte value; the close is reported
// once, and closing inside that handler does not enter it again; both connect again.
// A peer's reset is reported as its close.
TEST_F(QtSocketControlTest, ConnectionCarriesEveryByteValueAndItsCloseIsReportedOnce) {
  Probe client;
  client.Socket.SetRemoteHost("localhost");
  client.Socket.SetRemotePort(tools::FreePort());
  client.Socket.Connect();
  EXPECT_TRUE(client.Errors.empty()) << "no event inside the call";
  ASSERT_TRUE(WaitUntil([&] { return !client.Errors.empty(); }));
  RunEventsFor(20);
  EXPECT_EQ(client.Errors.size(), 1u);
  EXPECT_FALSE(client.Errors[0].empty());
  EXPECT_EQ(client.Connects + client.Closes, 0);
  EXPECT_NE(client.Socket.State(), SocketControl::Connected);

  listener.Socket.SetLocalAddress("127.0.0.1");
  ListenAndAcceptOn(data);
  client.Socket.SetRemotePort(listener.Socket.LocalPort());
  int16_t stateInHandler = -1;
  data.OnClose = [&] {
    stateInHandler = data.Socket.State();
    data.Socket.Close();
  };
  const std::string all = AllByteValues();
  for (int attempt = 1; attempt <= 2; ++attempt) {
    SCOPED_TRACE(attempt);
    data.Received.clear();
    client.Received.clear();
    client.Socket.Connect();
    EXPECT_EQ(client.Connects, attempt - 1) << "no event inside the call";
    ASSERT_TRUE(WaitUntil([&] {
      return client.Connects == attempt && data.Socket.State() == SocketControl::Connected;
    }));
    ExpectKeepAlive(client.Socket.NativeDescriptor());
    ExpectKeepAlive(data.Socket.NativeDescriptor());
    client.Socket.SendData(all + all);
    data.Socket.SendData(all);
    EXPECT_TRUE(WaitUntil([&] { return data.Received == all + all && client.Received == all; }))
        << data.Received.size() << " and " << client.Received.size() << " bytes";

    client.Socket.Close();
    ASSERT_TRUE(WaitUntil([&] { return data.Closes == attempt; }));
    RunEventsFor(100);
    EXPECT_EQ(data.Closes, attempt);
    EXPECT_EQ(stateInHandler, SocketControl::Closing);
    EXPECT_EQ(data.Socket.State(), SocketControl::Closed);
  }
  // A reset is the peer's close too, not an error.
  const int peer = ConnectRawPeer();
  ASSERT_TRUE(WaitUntil([&] { return data.Socket.State() == SocketControl::Connected; }));
  tools::CloseAbruptly(peer);
  ASSERT_TRUE(WaitUntil([&] { return data.Closes == 3; }));
  EXPECT_EQ(client.Errors.size(), 1u);
  EXPECT_TRUE(data.Errors.empty());
}

// Lines handed over within one pass of the event loop, more than the limit: a reading peer gets
// them all; one that falls behind leaves more than the high-water mark unsent, then SendQueueLow
// comes once. One that stops reading is dropped at the limit or after the stall time; then, or
// when the logic ends a live connection, the unsent output comes back from the first line not sent
// whole, adding up with what was reported taken to what was offered.
TEST_F(QtSocketControlTest, OutputDropsOnlyAPeerThatStopsReading) {
  enum PeerKind { Reads, FallsBehind, StopsReading };
  const std::tuple<const char*, int64_t, int, PeerKind, size_t, std::string> rows[] = {
      {"reading peer", 512 * 1024, QtSocketControl::DefaultStallMs, Reads, 20000, ""},
      {"peer that falls behind", QtSocketControl::DefaultSendQueueLimit,
       QtSocketControl::DefaultStallMs, FallsBehind, 60000, ""},
      {"queue over its limit", 512 * 1024, QtSocketControl::DefaultStallMs, StopsReading, 640000,
       "Send queue full"},
      {"stalled peer", QtSocketControl::DefaultSendQueueLimit, 1000, StopsReading, 150000,
       "Peer took nothing for 1 s ("},
      {"handed back, then closed", QtSocketControl::DefaultSendQueueLimit,
       QtSocketControl::DefaultStallMs, StopsReading, 60000, ""},
  };
  for (const auto& [name, limit, stallMs, kind, lines, error] : rows) {
    SCOPED_TRACE(name);
    const bool reads = kind != StopsReading;
    Probe sender(limit, stallMs);
    ListenAndAcceptOn(sender);
    const int peer = ConnectRawPeer();
    ASSERT_TRUE(WaitUntil([&] { return sender.Socket.State() == SocketControl::Connected; }));
    std::atomic<size_t> got{0};
    std::atomic<bool> ended{false};
    const auto read = [&] {
      char buffer[65536];
      for (ssize_t count; (count = recv(peer, buffer, sizeof buffer, 0)) > 0;) got += count;
      ended = true;
    };
    std::thread reader;
    if (kind == Reads) reader = std::thread(read);
    std::string offered;
    for (size_t n = 0; n < lines && sender.Socket.State() == SocketControl::Connected; ++n) {
      std::string line = std::to_string(n);
      line.resize(99, ' ');
      offered += line + "\n";
      sender.Socket.SendData(line + "\n");
    }
    if (kind == FallsBehind) {
      RunEventsFor(300);  // the kernel's buffers fill, Qt holds the rest
      EXPECT_GT(sender.Socket.BytesToWrite(), SocketControl::SendHighWater);
      EXPECT_EQ(sender.QueueLows, 0);
      reader = std::thread(read);
    } else if (kind == StopsReading) {
      if (error.empty()) {
        RunEventsFor(300);
      } else {
        ASSERT_TRUE(WaitUntil([&] { return !sender.Errors.empty(); }, 20000));
        EXPECT_EQ(sender.Errors[0].rfind(error, 0), 0u) << sender.Errors[0];
      }
      EXPECT_LT(offered.size(), 64u << 20);
      const std::string unsent = sender.Socket.TakeUnsent();
      if (error.empty()) sender.Socket.Close();
      RunEventsFor(50);  // closing reports nothing more
      ASSERT_FALSE(unsent.empty());
      EXPECT_TRUE(offered.ends_with(unsent));
      EXPECT_EQ(offered[offered.size() - unsent.size() - 1], '\n') << "whole lines";
      EXPECT_EQ(sender.LinesWritten + unsent.size(), offered.size())
          << "what was not reported taken is handed back";
      reader = std::thread(read);
    }
    EXPECT_TRUE(WaitUntil([&] { return reads ? got == offered.size() : ended.load(); }));
    if (reads) {
      EXPECT_TRUE(WaitUntil([&] { return sender.LinesWritten == offered.size(); }))
          << sender.LinesWritten << " of " << offered.size() << " reported taken";
      EXPECT_EQ(sender.QueueLows, kind == FallsBehind ? 1 : 0);
    }
    RunEventsFor(20);
    EXPECT_EQ(sender.Errors.size(), error.empty() ? 0u : 1u);
    EXPECT_EQ(sender.Socket.State() == SocketControl::Connected, reads);
    EXPECT_EQ(sender.Closes, 0);
    shutdown(peer, SHUT_RDWR);
    reader.join();
    close(peer);
  }
}

// Paused, the kernel holds the peer back; resumed, all arrives in order; closed, nothing more.
TEST_F(QtSocketControlTest, ResumedInputArrivesInOrderAndNothingArrivesAfterClose) {
  ListenAndAcceptOn(data);
  QTcpSocket peer;
  peer.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(listener.Socket.LocalPort()));
  ASSERT_TRUE(WaitUntil([&] { return data.Socket.State() == SocketControl::Connected; }));
  data.Socket.SetReceivePaused(true);
  std::string sent;
  for (int n = 0; sent.size() < (24u << 20); ++n) sent += "line " + std::to_string(n) + "\n";
  peer.write(QByteArray::fromStdString(sent));
  RunEventsFor(300);
  EXPECT_EQ(data.Received, "");
  EXPECT_GT(peer.bytesToWrite(), 0) << "the peer was held back";
  data.Socket.SetReceivePaused(false);
  ASSERT_TRUE(WaitUntil([&] { return data.Received.size() == sent.size(); }, 20000));
  EXPECT_EQ(data.Received, sent);

  data.OnData = [&] { data.Socket.Close(); };
  peer.write("last words");
  peer.disconnectFromHost();
  ASSERT_TRUE(WaitUntil([&] { return data.Received.size() > sent.size(); }));
  RunEventsFor(150);
  EXPECT_EQ(data.Closes, 0);
  EXPECT_TRUE(data.Errors.empty());
  EXPECT_EQ(data.Socket.State(), SocketControl::Closed);
}

// A server port serves one peer and refuses a second. A peer that ends its connection and dials
// again at once is taken, its last words first: the close it sent before it dialled comes before
// the new request, however both waited in the kernel. A peer that stays keeps its connection.
TEST_F(QtSocketControlTest, RequestComesAfterTheCloseThatPrecededIt) {
  listener.Socket.SetLocalPort(0);
  ASSERT_FALSE(listener.Socket.Listen().Failed());
  std::string order;
  listener.OnRequest = [&](int32_t id) {
    order += "request ";
    if (data.Socket.State() != SocketControl::Connected) data.Socket.Accept(id);
  };
  data.OnData = [&] { order += "data "; };
  data.OnClose = [&] {
    order += "close ";
    data.Socket.Close();
  };
  for (const bool firstCloses : {true, false}) {
    SCOPED_TRACE(firstCloses ? "first peer closes" : "first peer stays");
    data.Received.clear();
    const int first = ConnectRawPeer();
    ASSERT_TRUE(WaitUntil([&] { return data.Socket.State() == SocketControl::Connected; }));
    order.clear();
    listener.Requests = 0;
    // Both wait in the kernel until the event loop runs again.
    ASSERT_TRUE(tools::WriteAll(first, "last words"));
    if (firstCloses) close(first);
    const int second = ConnectRawPeer();
    ASSERT_TRUE(tools::WriteAll(second, "new peer"));
    ASSERT_TRUE(WaitUntil([&] { return listener.Requests > 0 && !data.Received.empty(); }));
    RunEventsFor(50);
    EXPECT_EQ(order, firstCloses ? "data close request data " : "data request ");
    EXPECT_EQ(data.Received, firstCloses ? "last wordsnew peer" : "last words");
    pollfd refusal{second, POLLIN, 0};
    EXPECT_EQ(poll(&refusal, 1, 0) > 0, !firstCloses) << "the second peer is closed if refused";
    close(second);
    if (!firstCloses) close(first);
    ASSERT_TRUE(WaitUntil([&] { return data.Socket.State() == SocketControl::Closed; }));
  }
}

TEST_F(QtSocketControlTest, ListenerKeepsAcceptingAfterRunningOutOfDescriptors) {
  ListenAndAcceptOn(data);
  // The sanitizer opens descriptors at its first check of a type: that must have run by now.
  RunEventsFor(1);
  const int client = ConnectRawPeer();  // waits in the kernel until the event loop runs
  struct RestoredLimit {
    rlimit Original{};
    RestoredLimit() { getrlimit(RLIMIT_NOFILE, &Original); }
    ~RestoredLimit() { setrlimit(RLIMIT_NOFILE, &Original); }
  } restored;
  // The limit bounds descriptor numbers: at the lowest free number, none is to be had.
  const int lowestFree = dup(0);
  close(lowestFree);
  const rlimit tight{static_cast<rlim_t>(lowestFree), restored.Original.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  RunEventsFor(100);  // the listener fails to take the connection
  EXPECT_EQ(listener.Requests, 0);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &restored.Original), 0);
  EXPECT_TRUE(WaitUntil([&] { return listener.Requests == 1; }, 3000));
  close(client);
}

// A pseudo-terminal, not raw: the slave is the device; closing the master hangs the line up.
struct PseudoTerminal {
  PseudoTerminal() { openpty(&Master, &Slave, Name, nullptr, nullptr); }
  ~PseudoTerminal() {
    close(Master);
    close(Slave);
  }
  int Master = -1, Slave = -1;
  char Name[256] = {};
};

// The control makes the terminal raw: every byte value arrives unchanged; a hang-up is one loss
// after everything before it, the event loop idle afterwards. A held device cannot be opened
// again. Every parity, data bits and stop bits value opens.
TEST(QtSerialControlTest, EveryByteValueArrivesUnchangedAndAHangUpIsLostOnce) {
  PseudoTerminal terminal;
  int resolvedPort = 0, losses = 0;
  std::string received, receivedBeforeLoss, lossDescription;
  QtSerialControl port([&](int commPort) {
    resolvedPort = commPort;
    return std::string(terminal.Name);
  });
  port.SetHandlers({.OnComm = [&](std::string_view bytes) { received += bytes; },
                    .DeviceLost =
                        [&](const std::string& description) {
                          ++losses;
                          lossDescription = description;
                          receivedBeforeLoss = received;
                        }});
  ASSERT_FALSE(port.SetCommPort(3).Failed());
  ASSERT_FALSE(port.SetSettings({}).Failed());
  ASSERT_FALSE(port.SetPortOpen(true).Failed());
  EXPECT_EQ(resolvedPort, 3);
  EXPECT_TRUE(port.SetCommPort(4).Failed()) << "the port is open";
  QtSerialControl other([&](int) { return std::string(terminal.Name); });
  const SerialError busy = other.SetPortOpen(true);
  EXPECT_TRUE(busy.Failed());
  EXPECT_FALSE(busy.Description.empty());
  EXPECT_FALSE(other.PortOpen());
  const std::string all = AllByteValues();
  ASSERT_EQ(write(terminal.Master, (all + all).data(), 512), 512);
  ASSERT_TRUE(WaitUntil([&] { return received.size() >= 512; }));
  close(std::exchange(terminal.Master, -1));
  ASSERT_TRUE(WaitUntil([&] { return losses == 1; }));
  EXPECT_EQ(receivedBeforeLoss, all + all);
  EXPECT_FALSE(lossDescription.empty());
  EXPECT_FALSE(port.PortOpen());

  const std::clock_t cpuBefore = std::clock();  // the process's processor time
  RunEventsFor(300);
  EXPECT_LT(static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC, 0.15)
      << "the event loop spins after the loss";
  EXPECT_EQ(losses, 1);

  PseudoTerminal another;
  using enum SerialParity;
  using enum SerialDataBits;
  using enum SerialStopBits;
  const SerialLineSettings lines[] = {{19200, Even, Seven, Two},
                                      {1200, Odd, Five, OneAndHalf},
                                      {4800, Mark, Eight, One},
                                      {115200, Space, Six, One}};
  for (const SerialLineSettings& line : lines) {
    SCOPED_TRACE(line.BaudRate);
    QtSerialControl opened([&](int) { return std::string(another.Name); });
    EXPECT_FALSE(opened.SetSettings(line).Failed());
    EXPECT_FALSE(opened.SetPortOpen(true).Failed());
  }
}

}  // namespace
}  // namespace tarvel
