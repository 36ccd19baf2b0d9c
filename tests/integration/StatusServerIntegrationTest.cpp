// The status server and the listeners' allow lists and bind addresses, on real sockets.

#include <gtest/gtest.h>

#include <regex>

#include "integration/GatewayProcess.h"

namespace tarvel::integration {
namespace {

const std::string Message = "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open\r\n";

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
  for (int n = 0; n < 3; ++n) equipment.Send(Message);
  equipment.Send("not an event\n");
  ASSERT_FALSE(alarmServer.ReadUntil("Door forced open\n").empty());
  EXPECT_EQ(folder.CountMessages("Refused Ostrel connection from 127.0.0.3:"), 1u);
  EXPECT_EQ(folder.CountMessages("Connection (0) refused from 127.0.0.3:"), 1u);
  EXPECT_EQ(folder.CountMessages("Connection (0) accepted from 127.0.0.5:"), 1u);

  const std::string bytes = std::to_string(3 * Message.size() + 13);
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
    std::string view =
        ": fits, fonts alike\nrow 0 \\| Front panel \\| TCP server \\| Connected to "
        "127\\.0\\.0\\.5:"
        "[0-9]+ \\| BYTES \\| 4 \\| 3 \\| 1 \\| .*\nrow 1 \\| Warehouse panel, loading bay north "
        "side \\| TCP client \\| Disconnected from 127\\.0\\.0\\.1:DOWN, next attempt at [0-9:]{8} "
        "\\(in [0-9]+ (min|s)[0-9a-z ]*\\) \\| 0 \\| .*\n";
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

}  // namespace
}  // namespace tarvel::integration
