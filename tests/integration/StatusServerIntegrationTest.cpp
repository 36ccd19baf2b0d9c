#include <gtest/gtest.h>

#include "integration/EquipmentPeers.h"

namespace tarvel::integration {
namespace {

const std::string StartLine = "TARVEL80 Import for Ostrel is starting, version 1.0.04";
const std::string Message = "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open\r\n";

struct Reply {
  int Code = 0;
  std::string Text;  // head and body
};

// One request on a connection of its own, from `source`; the reply, read up to the end of its
// body (the server may keep the connection open) or until the server closes.
Reply Request(int port, const std::string& request, const std::string& source = "") {
  Client client("127.0.0.1", port, source);
  client.Send(request);
  Reply reply;
  reply.Text = client.ReadUntil("\r\n\r\n");
  const size_t head = reply.Text.find("\r\n\r\n");
  const size_t length = reply.Text.find("Content-Length: ");
  if (head != std::string::npos && length != std::string::npos) {
    const size_t end = head + 4 + std::stoul(reply.Text.substr(length + 16));
    WaitUntil(
        [&] { return (reply.Text = client.ReadUntil(std::string(1, '\0'), 20ms)).size() >= end; });
  }
  if (reply.Text.rfind("HTTP/1.1 ", 0) == 0) reply.Code = std::atoi(reply.Text.c_str() + 9);
  return reply;
}

Reply Get(int port, const std::string& path, const std::string& method = "GET") {
  return Request(port, method + " " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
}

// The gateway with the status server, port 0 a TCP server port supervised for silence.
struct StatusGateway {
  explicit StatusGateway(const std::string& extraGeneral = "", int takenOstrelPort = 0)
      : ostrelPort(takenOstrelPort != 0 ? takenOstrelPort : FreePort()),
        equipmentPort(FreePort()),
        statusPort(FreePort()) {
    folder.Write("TARVEL80Import.ini",
                 "[General]\nOstrelPort=" + std::to_string(ostrelPort) +
                     "\nStatusPort=" + std::to_string(statusPort) + "\n" + extraGeneral +
                     "[TARVEL80_Port_0]\nDescription=Front panel\nPortType=TCPS\nListenPort=" +
                     std::to_string(equipmentPort) + "\nPollFailTimeout=1\n");
    gateway.emplace(folder, std::vector<std::string>{"--headless", "--dir", folder.Path()});
  }
  ProgramFolder folder;
  int ostrelPort, equipmentPort, statusPort;
  std::optional<GatewayProcess> gateway;
};

TEST(StatusServer, ServesCountersWhileLinesFlow) {
  StatusGateway status;
  ASSERT_TRUE(status.folder.WaitForMessage("Status server listening at 127.0.0.1:"))
      << status.gateway->StandardError();
  Client alarmServer(status.ostrelPort);
  Client equipment(status.equipmentPort);
  for (int n = 0; n < 3; ++n) equipment.Send(Message);
  equipment.Send("not an event\n");
  ASSERT_FALSE(alarmServer.ReadUntil("Door forced open\n").empty());

  // Counted as they come: scraped while the lines flow, until all four lines show.
  std::string json;
  EXPECT_TRUE(WaitUntil([&] {
    json = Get(status.statusPort, "/status.json").Text;
    return json.find("\"linesReceived\":4,") != std::string::npos;
  })) << json;
  for (const std::string& field : std::vector<std::string>{
           "\"description\":\"Front panel\"", "\"kind\":\"tcp_server\"", "\"connected\":true",
           "\"bytesReceived\":" + std::to_string(3 * Message.size() + 13) + ",",
           "\"eventsForwarded\":3,", "\"linesRejected\":1,", "\"silence\":\"ok\"",
           "Connection (0) accepted from 127.0.0.1:"}) {
    EXPECT_NE(json.find(field), std::string::npos) << field << " in " << json;
  }
  const std::string metrics = Get(status.statusPort, "/metrics").Text;
  EXPECT_NE(metrics.find("tarvel80import_received_lines_total{port=\"0\",kind=\"tcp_server\"} 4"),
            std::string::npos)
      << metrics;
  EXPECT_NE(metrics.find("tarvel80import_ostrel_connected 1"), std::string::npos);

  // Read-only, GET only, at most 8 KiB.
  struct Row {
    std::string Name, Request;
    int Code;
  };
  const std::vector<Row> rows = {
      {"page", "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 200},
      {"health", "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 200},
      {"wrong method", "POST /metrics HTTP/1.1\r\nConnection: close\r\nContent-Length: 0\r\n\r\n",
       405},
      {"unknown path", "GET /admin HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 404},
      {"large head", "GET / HTTP/1.1\r\nX: " + std::string(9000, 'a') + "\r\n\r\n", 413},
      {"large body", "GET / HTTP/1.1\r\nContent-Length: 9000\r\n\r\n" + std::string(9000, 'a'),
       413},
  };
  for (const Row& row : rows)
    EXPECT_EQ(Request(status.statusPort, row.Request).Code, row.Code) << row.Name;

  // Silence: reported failed after a second without a line.
  EXPECT_TRUE(WaitUntil([&] {
    json = Get(status.statusPort, "/status.json").Text;
    return json.find("\"silence\":\"failed\"") != std::string::npos;
  })) << json;
  EXPECT_TRUE(status.gateway->Running());
}

TEST(StatusServer, RefusesHostsOutsideTheAllowList) {
  StatusGateway status("StatusAllowedHosts=127.0.0.2\n");
  ASSERT_TRUE(status.folder.WaitForMessage("Status server listening at "));
  for (int n = 0; n < 5; ++n)
    EXPECT_EQ(Request(status.statusPort, "GET /healthz HTTP/1.1\r\nConnection: close\r\n\r\n",
                      "127.0.0.3")
                  .Code,
              403);
  EXPECT_EQ(
      Request(status.statusPort, "GET /healthz HTTP/1.1\r\nConnection: close\r\n\r\n", "127.0.0.2")
          .Code,
      200);
  EXPECT_EQ(status.folder.CountMessages("Refused status connection from 127.0.0.3:"), 1u);
}

TEST(StatusServer, HealthFailsWhenTheAlarmServerListenerCannotListen) {
  Listener taken;  // holds the alarm-server port, so the gateway's listen fails
  StatusGateway status("", taken.Port());
  ASSERT_TRUE(status.folder.WaitForMessage("Status server listening at "));
  const Reply reply = Get(status.statusPort, "/healthz");
  EXPECT_EQ(reply.Code, 503);
  EXPECT_NE(reply.Text.find("alarm-server listener on port " + std::to_string(taken.Port()) +
                            " is not listening"),
            std::string::npos)
      << reply.Text;
}

TEST(StatusServer, APortThatCannotListenIsLoggedAndTheGatewayGoesOn) {
  Listener taken;
  ProgramFolder folder;
  const int ostrelPort = FreePort();
  folder.Write("TARVEL80Import.ini", "[General]\nOstrelPort=" + std::to_string(ostrelPort) +
                                         "\nStatusPort=" + std::to_string(taken.Port()) + "\n");
  GatewayProcess gateway(folder, {"--headless", "--dir", folder.Path()});
  EXPECT_TRUE(folder.WaitForMessage("Could not set status port (127.0.0.1:" +
                                    std::to_string(taken.Port()) + ") to listen mode, err: "));
  Client alarmServer(ostrelPort);
  EXPECT_TRUE(folder.WaitForMessage("Accepted Ostrel connection from "));
  EXPECT_TRUE(gateway.Running());
}

}  // namespace
}  // namespace tarvel::integration

namespace tarvel::integration {
namespace {

// Runs a program with its standard output into a file; its exit status, or nothing when it
// did not end within the limit (it is then killed).
std::optional<int> RunProgram(std::vector<std::string> words, const std::string& outputPath,
                              std::chrono::milliseconds limit) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(out, 1);
    dup2(null, 2);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  std::optional<int> status;
  WaitUntil(
      [&] {
        int raw = 0;
        if (waitpid(pid, &raw, WNOHANG) != pid) return false;
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return true;
      },
      limit);
  if (!status) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return status;
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (access((folder + "/" + name).c_str(), X_OK) == 0) return folder + "/" + name;
  }
  return "";
}

// The page in a real browser: its script fills the port table from /status.json.
TEST(StatusServer, BrowserFillsThePortTableFromTheJson) {
  const std::string chromium = FindOnPath("chromium");
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
  StatusGateway status;
  ASSERT_TRUE(status.folder.WaitForMessage("Status server listening at "));
  Client equipment(status.equipmentPort);
  equipment.Send(Message);
  std::filesystem::create_directory(status.folder.Path() + "browser");
  const std::string dom = status.folder.Path() + "dom.html";
  const auto exit = RunProgram(
      {chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
       "--disable-background-networking", "--disable-component-update", "--disable-sync",
       "--user-data-dir=" + status.folder.Path() + "browser", "--virtual-time-budget=3000",
       "--dump-dom", "http://127.0.0.1:" + std::to_string(status.statusPort) + "/"},
      dom, 120s);
  ASSERT_EQ(exit, 0);
  const std::string page = ReadWholeFile(dom);
  EXPECT_NE(page.find("<td>0</td><td>Front panel</td><td class=\"wide\">TCP server</td>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("<td class=\"ok wrap\">Connected to 127.0.0.1:"), std::string::npos);
  EXPECT_NE(page.find("<td class=\"num\">" + std::to_string(Message.size()) + "</td>"),
            std::string::npos);
}

}  // namespace
}  // namespace tarvel::integration
