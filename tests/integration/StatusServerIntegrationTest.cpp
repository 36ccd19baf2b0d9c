// The status server and the listeners' allow lists and bind addresses, on real sockets.

#include <gtest/gtest.h>

#include <tuple>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

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

Reply Get(int port, const std::string& path, const std::string& source = "") {
  return Request(port, "GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", source);
}

// The gateway with the status server on the desktop (its windows drawn offscreen), port 0 a TCP
// server port with the given keys; an alarm-server port given is held by the test, so that the
// gateway's listener on it fails.
struct StatusGateway {
  explicit StatusGateway(const std::string& general, const std::string& portKeys = "",
                         int takenOstrelPort = 0)
      : ostrelPort(takenOstrelPort != 0 ? takenOstrelPort : FreePort()),
        equipmentPort(FreePort()),
        statusPort(FreePort()) {
    folder.Write("TARVEL80Import.ini",
                 OstrelPortIni(ostrelPort) + "StatusPort=" + std::to_string(statusPort) + "\n" +
                     general + "[TARVEL80_Port_0]\nDescription=Front panel\nPortType=TCPS\n" +
                     portKeys + "ListenPort=" + std::to_string(equipmentPort) + "\n");
    gateway.emplace(
        folder, std::vector<std::string>{"--dir", folder.Path()},
        std::map<std::string, std::string>{{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}});
  }
  ProgramFolder folder;
  int ostrelPort, equipmentPort, statusPort;
  std::optional<GatewayProcess> gateway;
};

// A client that the gateway refuses: the kernel makes the connection, the gateway closes it at
// once with nothing sent.
void ExpectClosedAtOnce(const std::string& address, int port, const std::string& source) {
  Client refused(address, port, source);
  ASSERT_TRUE(refused.Connected());
  EXPECT_TRUE(refused.WaitForClose()) << "from " << source;
  EXPECT_EQ(refused.ReadUntil("\n", 0ms), "");
}

// What the real sockets show: the peer address of an IPv4 client on the dual-stack alarm-server
// listener, and on a listener bound to an IPv4 address, matched by both spellings of an entry.
// Then the counters as they come, scraped while the lines flow, and the page in a browser;
// requests are cut off past 8 KiB. The texts, every value and the answer to each method and path
// are the rendering's.
TEST(StatusServer, ServesCountersWhileLinesFlowToScrapersAndTheBrowser) {
  StatusGateway status("OstrelAllowedHosts=10.9.9.9, 127.0.0.2/32\n",
                       "ListenAddress=127.0.0.1\nAllowedHosts=::ffff:127.0.0.5\n");
  ASSERT_TRUE(status.folder.WaitForMessage("Status server listening at 127.0.0.1:"))
      << status.gateway->StandardError();
  Client alarmServer("127.0.0.1", status.ostrelPort, "127.0.0.2");
  ASSERT_TRUE(status.folder.WaitForMessage("Accepted Ostrel connection from 127.0.0.2:"));
  for (int n = 0; n < 3; ++n) ExpectClosedAtOnce("127.0.0.1", status.ostrelPort, "127.0.0.3");
  for (int n = 0; n < 3; ++n) ExpectClosedAtOnce("127.0.0.1", status.equipmentPort, "127.0.0.3");
  EXPECT_FALSE(Client("127.0.0.2", status.equipmentPort, "127.0.0.5", 300ms).Connected());
  Client equipment("127.0.0.1", status.equipmentPort, "127.0.0.5");
  for (int n = 0; n < 3; ++n) equipment.Send(Message);
  equipment.Send("not an event\n");
  ASSERT_FALSE(alarmServer.ReadUntil("Door forced open\n").empty());
  EXPECT_EQ(status.folder.CountMessages("Refused Ostrel connection from 127.0.0.3:"), 1u);
  EXPECT_EQ(status.folder.CountMessages("Connection (0) refused from 127.0.0.3:"), 1u);
  EXPECT_EQ(status.folder.CountMessages("Connection (0) accepted from 127.0.0.5:"), 1u);

  std::string json;
  EXPECT_TRUE(WaitUntil([&] {
    json = Get(status.statusPort, "/status.json").Text;
    return json.find("\"linesReceived\":4,") != std::string::npos;
  })) << json;
  for (const std::string& field :
       {"\"bytesReceived\":" + std::to_string(3 * Message.size() + 13) + ",",
        std::string("\"eventsForwarded\":3,"), std::string("\"linesRejected\":1,"),
        std::string("\"listening\":true,")})
    EXPECT_NE(json.find(field), std::string::npos) << field << " in " << json;
  auto ticks = [&] {  // the event loop's ticks, as scraped
    const std::string text = Get(status.statusPort, "/metrics").Text;
    const size_t at = text.find("\ntarvel80import_supervision_ticks_total ");
    return at == std::string::npos ? 0 : std::atoll(text.c_str() + at + 40);
  };
  EXPECT_TRUE(WaitUntil([&] { return ticks() > 0; }));

  // Requests up to 8 KiB are answered; the answer's head tells what a client may do next.
  const std::tuple<std::string, int, std::string> rows[] = {
      {"GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 200, "no-store"},
      {"DELETE / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 405, "Allow: GET"},
      {"GET / HTTP/1.1\r\nX: " + std::string(8169, 'a') + "\r\n\r\n", 200, ""},  // 8 KiB
      {"GET / HTTP/1.1\r\nX: " + std::string(8170, 'a') + "\r\n\r\n", 413, ""},
      {"GET / HTTP/1.1\r\nContent-Length: 9000\r\n\r\n" + std::string(9000, 'a'), 413, ""},
  };
  for (const auto& [request, code, head] : rows) {
    const Reply reply = Request(status.statusPort, request);
    EXPECT_EQ(reply.Code, code) << request.substr(0, 40);
    EXPECT_NE(reply.Text.find(head), std::string::npos) << reply.Text.substr(0, 200);
  }
  EXPECT_TRUE(status.gateway->Running());

  // The page in a real browser: its script fills the port table from /status.json.
  if (RunShell("command -v chromium").second != 0) GTEST_SKIP() << "chromium is not installed";
  const std::string dom = status.folder.Path() + "dom.html";
  tools::ChildProcess browser(
      {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
       "--no-first-run", "--disable-background-networking", "--disable-component-update",
       "--disable-sync", "--user-data-dir=" + status.folder.Path() + "browser",
       "--virtual-time-budget=3000", "--dump-dom",
       "http://127.0.0.1:" + std::to_string(status.statusPort) + "/"},
      dom);
  ASSERT_EQ(browser.WaitForExit(120s), 0);
  const std::string page = ReadWholeFile(dom);
  for (const std::string& cell :
       {std::string("<td>0</td><td>Front panel</td><td class=\"wide\">TCP server</td>"),
        std::string("<td class=\"ok wrap\">Connected to 127.0.0.5:"),
        "<td class=\"num\">" + std::to_string(3 * Message.size() + 13) + "</td>"})
    EXPECT_NE(page.find(cell), std::string::npos) << cell << " in " << page;
}

// Two things only the real listeners show in one run: the allow list on the status port, and
// health failing while the alarm-server listener cannot listen, the kernel's reason logged. On the
// desktop SIGINT writes one stop line; headless, SIGTERM is the walkthrough's and SIGHUP the
// service test's, and each signal's reason is the unit test's.
TEST(StatusServer, RefusesOtherHostsAndFailsHealthWithoutTheAlarmServerListener) {
  Listener taken;
  StatusGateway status("StatusAllowedHosts=127.0.0.2\n", "", taken.Port());
  ASSERT_TRUE(status.folder.WaitForMessage("Status server listening at "));
  for (int n = 0; n < 5; ++n) EXPECT_EQ(Get(status.statusPort, "/healthz", "127.0.0.3").Code, 403);
  const Reply reply = Get(status.statusPort, "/healthz", "127.0.0.2");
  EXPECT_EQ(reply.Code, 503);
  EXPECT_NE(reply.Text.find("alarm-server listener on port " + std::to_string(taken.Port()) +
                            " is not listening"),
            std::string::npos)
      << reply.Text;
  EXPECT_EQ(status.folder.CountMessages("Refused status connection from 127.0.0.3:"), 1u);
  EXPECT_EQ(
      status.folder.CountMessages("Could not set Ostrel port (" + std::to_string(taken.Port()) +
                                  ") to listen mode, err: The bound address is already in use"),
      1u);
  status.gateway->Signal(SIGINT);
  EXPECT_EQ(status.gateway->WaitForExit(), 0);
  EXPECT_EQ(status.folder.CountMessages("TARVEL80 Server is stopping"), 1u);
  EXPECT_EQ(status.folder.Messages().back(), "TARVEL80 Server is stopping, reason 0");
}

}  // namespace
}  // namespace tarvel::integration
