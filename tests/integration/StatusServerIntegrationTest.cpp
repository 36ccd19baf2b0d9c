// The status server and the listeners' allow lists and bind addresses, on real sockets.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
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
// server port with the given keys, then any further port sections.
struct StatusGateway {
  StatusGateway(const std::string& general, const std::string& portKeys,
                const std::string& moreSections)
      : ostrelPort(FreePort()), equipmentPort(FreePort()), statusPort(FreePort()) {
    folder.Write("TARVEL80Import.ini",
                 OstrelPortIni(ostrelPort) + "StatusPort=" + std::to_string(statusPort) + "\n" +
                     general + "[TARVEL80_Port_0]\nDescription=Front panel\nPortType=TCPS\n" +
                     portKeys + "ListenPort=" + std::to_string(equipmentPort) + "\n" +
                     moreSections);
    gateway.emplace(
        folder, std::vector<std::string>{"--dir", folder.Path()},
        std::map<std::string, std::string>{{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}});
  }
  ProgramFolder folder;
  int ostrelPort, equipmentPort, statusPort;
  std::optional<GatewayProcess> gateway;
};

// The status page at one width as headless Chromium laid it out, read back by a script.
struct PageView {
  int Width = 0;
  // The document's width, or the right edge of its widest element if further (one that
  // scrolls within its box); more than ClientWidth: a horizontal scrollbar.
  int ScrollWidth = 0;
  int ClientWidth = 0;
  std::string TableFont, LogFont;  // computed font sizes of a port cell and of the log
  std::vector<std::string> Rows;   // each port row's cell texts, joined by " | "
};

// Shows the page the gateway serves at 1200 x 900 and at 400 x 800, as frames of one local
// document whose script measures them once their port tables are filled (a window cannot be
// made narrower than 500 px, a frame can). A <base> sends the page's own requests to the gateway;
// web security is off so that a local document may read them. Every process of the browser ends
// before this returns. Empty when the browser gave no measurement.
std::vector<PageView> ShowPage(const ProgramFolder& folder, int statusPort) {
  const std::string base = "http://127.0.0.1:" + std::to_string(statusPort) + "/";
  std::string page = Get(statusPort, "/").Text;
  page.erase(0, page.find("\r\n\r\n") + 4);
  page.insert(page.find("<head>") + 6, "<base href=\"" + base + "\">");
  std::string attribute;  // the page as a srcdoc attribute
  for (const char c : page)
    attribute += c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);
  std::string document = "<!DOCTYPE html><html><body>";
  for (const char* size : {"width:1200px;height:900px", "width:400px;height:800px"})
    document += "<iframe style=\"border:0;" + std::string(size) + "\" srcdoc=\"" + attribute +
                "\"></iframe>";
  document += R"(<script>
let tries=0;
function probe(){
  const frames=Array.from(document.querySelectorAll("iframe"));
  const filled=f=>{const d=f.contentDocument,b=d&&d.getElementById("ports");return b&&b.rows.length>0;};
  if(!frames.every(filled)&&++tries<100){setTimeout(probe,100);return;}
  const lines=[];
  for(const f of frames){
    try{
      const d=f.contentDocument,e=d.documentElement,font=s=>d.defaultView.getComputedStyle(d.querySelector(s)).fontSize;
      const right=Math.max(...Array.from(d.body.querySelectorAll("*"),x=>Math.ceil(x.getBoundingClientRect().right)));
      lines.push(["view",f.offsetWidth,Math.max(e.scrollWidth,right),e.clientWidth,font("#ports td"),font("#log")].join(" "));
      for(const r of d.getElementById("ports").rows)lines.push("row "+Array.from(r.cells,c=>c.textContent).join(" | "));
    }catch(error){lines.push("error "+error);}
  }
  const out=document.createElement("pre");out.id="probe";out.textContent=lines.join("\n");
  document.body.appendChild(out);
}
probe();
</script></body></html>)";
  folder.Write("page.html", document);
  const std::string dump = folder.Path() + "dom.html";
  {
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
  }
  std::string text = ReadWholeFile(dump);
  const size_t begin = text.find("<pre id=\"probe\">");
  if (begin == std::string::npos) return {};
  text = text.substr(begin + 16, text.find("</pre>", begin) - begin - 16);
  for (const auto& [escaped, plain] :
       {std::pair<std::string, std::string>{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}})
    for (size_t at; (at = text.find(escaped)) != std::string::npos;)
      text.replace(at, escaped.size(), plain);
  std::vector<PageView> views;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word == "view") {
      views.emplace_back();
      PageView& view = views.back();
      words >> view.Width >> view.ScrollWidth >> view.ClientWidth >> view.TableFont >> view.LogFont;
    } else if (word == "row" && !views.empty()) {
      views.back().Rows.push_back(line.substr(4));
    } else {
      ADD_FAILURE() << "from the page's measuring script: " << line;
    }
  }
  return views;
}

// A client that the gateway refuses: the kernel makes the connection, the gateway closes it at
// once with nothing sent.
void ExpectClosedAtOnce(const std::string& address, int port, const std::string& source) {
  Client refused(address, port, source);
  ASSERT_TRUE(refused.Connected());
  EXPECT_TRUE(refused.WaitForClose()) << "from " << source;
  EXPECT_EQ(refused.ReadUntil("\n", 0ms), "");
}

// What the real sockets show: the peer address of an IPv4 client on the dual-stack alarm-server
// listener, and on a listener bound to an IPv4 address, matched by both spellings of an entry; the
// status port's allow list. Then the counters as they come, scraped while the lines flow, HEAD
// answered with GET's head and no body, and the page in a browser at a desktop's and a phone's
// width beside a TCP client port that waits for its next attempt; requests are cut off past 8 KiB.
// The texts, every value and the answer to each method and path are the rendering's; health
// without the alarm-server listener is the rendering's and the listener's reason the bad
// configuration test's.
TEST(StatusServer, ServesCountersWhileLinesFlowToScrapersAndTheBrowser) {
  const int downPort = FreePort();  // the TCP client port's equipment, which is down
  StatusGateway status(
      "OstrelAllowedHosts=10.9.9.9, 127.0.0.2/32\nStatusAllowedHosts=127.0.0.1\n",
      "ListenAddress=127.0.0.1\nAllowedHosts=::ffff:127.0.0.5\n",
      "[TARVEL80_Port_1]\nDescription=Warehouse panel, loading bay north side\nPortType=TCPC\n"
      "RemoteAddress=127.0.0.1:" +
          std::to_string(downPort) + "\n");
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
      {"DELETE / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 405, "Allow: GET, HEAD"},
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
  EXPECT_EQ(Get(status.statusPort, "/healthz", "127.0.0.3").Code, 403);
  EXPECT_EQ(status.folder.CountMessages("Refused status connection from 127.0.0.3:"), 1u);

  // HEAD: GET's head, Content-Length included, and no body, so the next answer on the
  // connection follows the head at once.
  const Reply get = Get(status.statusPort, "/");
  Client client("127.0.0.1", status.statusPort);
  client.Send(
      "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n"
      "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  const std::string both = client.ReadUntil("listening\n");
  const std::string head = both.substr(0, both.find("\r\n\r\n") + 4);
  EXPECT_EQ(head, get.Text.substr(0, get.Text.find("\r\n\r\n") + 4));
  EXPECT_NE(head.find("\r\nContent-Length: "), std::string::npos);
  EXPECT_EQ(both.substr(head.size(), 16), "HTTP/1.1 200 OK\r") << both;

  // The page in a real browser: its script fills the port table from /status.json, which fits
  // both widths without a horizontal scrollbar, the log as large as the table.
  const bool browser = RunShell("command -v chromium").second == 0;
  if (browser) {
    const std::vector<PageView> views = ShowPage(status.folder, status.statusPort);
    ASSERT_EQ(views.size(), 2u);
    const std::regex portRows[] = {
        std::regex("0 \\| Front panel \\| TCP server \\| Connected to 127\\.0\\.0\\.5:[0-9]+ \\| " +
                   std::to_string(3 * Message.size() + 13) + " \\| 4 \\| 3 \\| 1 \\| .*"),
        std::regex("1 \\| Warehouse panel, loading bay north side \\| TCP client \\| Disconnected "
                   "from 127\\.0\\.0\\.1:" +
                   std::to_string(downPort) +
                   ", next attempt at [0-9]{2}:[0-9]{2}:[0-9]{2} \\(in [0-9]+ (min|s)[0-9a-z ]*\\) "
                   "\\| 0 \\| .*"),
    };
    for (const PageView& view : views) {
      EXPECT_LE(view.ScrollWidth, view.ClientWidth) << "horizontal scrollbar at " << view.Width;
      EXPECT_EQ(view.TableFont, view.LogFont) << "at " << view.Width;
      ASSERT_EQ(view.Rows.size(), std::size(portRows)) << "at " << view.Width;
      for (size_t n = 0; n < std::size(portRows); ++n)
        EXPECT_TRUE(std::regex_match(view.Rows[n], portRows[n]))
            << view.Rows[n] << " at " << view.Width;
    }
    EXPECT_EQ(views[0].Width, 1200);
    EXPECT_EQ(views[1].Width, 400);
  }

  // On the desktop SIGINT writes one stop line (headless, SIGTERM is the walkthrough's and SIGHUP
  // the service test's; each signal's reason is the unit test's).
  status.gateway->Signal(SIGINT);
  EXPECT_EQ(status.gateway->WaitForExit(), 0);
  EXPECT_EQ(status.folder.CountMessages("TARVEL80 Server is stopping"), 1u);
  EXPECT_EQ(status.folder.Messages().back(), "TARVEL80 Server is stopping, reason 0");
  if (!browser) GTEST_SKIP() << "chromium is not installed";
}

}  // namespace
}  // namespace tarvel::integration
