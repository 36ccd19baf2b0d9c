#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QScrollBar>
#include <QTreeWidget>
#include <map>
#include <regex>
#include <sstream>
#include <vector>

#include "app/StatusRendering.h"
#include "diag/RecentLogLines.h"
#include "diag/TrafficTrace.h"
#include "fakes/FakeClock.h"
#include "support/TempFolder.h"
#include "ui/InMemoryViews.h"
#include "ui/qt/QtMainWindow.h"

namespace tarvel {
namespace {

StatusSnapshot Example() {
  StatusSnapshot snapshot;
  snapshot.Version = "1.0.04";
  snapshot.StartedAt = LocalTime{2026, 12, 6, 8, 5, 9, 0};
  snapshot.StartedAtEpochSeconds = 1796544309;
  snapshot.Now = LocalTime{2026, 12, 6, 23, 59, 30, 0};
  snapshot.TheOstrel.Connected = snapshot.TheOstrel.Listening = true;
  snapshot.TheOstrel.Totals.LinesSent = 5'000'000'123;  // beyond 32 bits
  snapshot.TheOstrel.Totals.ConnectedAt = LocalTime{2026, 12, 6, 9, 0, 0, 0};
  snapshot.TheOstrel.KeptLimitBytes = 32768;
  StatusSnapshot::Port server;
  server.Number = 2;
  server.Description = "Hall \xC4 \"east\"\\ \x01";  // ISO 8859-1, quotes, a control character
  server.Kind = PortKind::TcpServer;
  server.Connected = true;
  server.Peer = "10.0.0.5:4001";
  server.Totals.BytesReceived = 70'000;
  server.Totals.EventsForwarded = 9;
  server.PollFailTimeout = 30;
  StatusSnapshot::Port serial;
  serial.Number = 5;
  serial.Kind = PortKind::Serial;
  serial.PollFailTimeout = 10;
  serial.Failed = true;
  serial.Totals.FailedAt = LocalTime{2026, 12, 6, 10, 11, 12, 0};
  serial.Totals.SilenceFailures = 3;
  StatusSnapshot::Port client;
  client.Number = 6;
  client.Kind = PortKind::TcpClient;
  client.NextAttemptSeconds = 100;
  snapshot.Ports = {server, serial, client};
  snapshot.LogLines = {"26-12-06 08:05:09 started", "line with \xE9"};
  return snapshot;
}

TEST(StatusRendering, JsonReadsBackWithEveryValue) {
  QJsonParseError error;
  const std::string text = RenderStatusJson(Example());
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << text;
  EXPECT_TRUE(text.ends_with("}\n")) << "one line, ended, for a shell reading it";
  const QJsonObject root = document.object();
  const QJsonObject ostrel = root["ostrel"].toObject();
  const QJsonArray ports = root["ports"].toArray();
  ASSERT_EQ(ports.size(), 3);
  const QJsonObject server = ports[0].toObject(), serial = ports[1].toObject(),
                    client = ports[2].toObject();
  const std::vector<std::pair<QJsonValue, QJsonValue>> rows = {
      // clang-format off
      {root["started"], "2026-12-06 08:05:09"}, {root["now"], "2026-12-06 23:59:30"},
      {root["log"].toArray()[1], QString::fromUtf8("line with \u00E9")}, {serial["port"], 5},
      {ostrel["connectedSince"], "2026-12-06 09:00:00"}, {ostrel["linesSent"], 5'000'000'123.0},
      {ostrel["keptLimitBytes"], 32768}, {server["kind"], "tcp_server"}, {server["silence"], "ok"},
      {server["description"], QString::fromUtf8("Hall \u00C4 \"east\"\\ \u0001")},
      {server["peer"], "10.0.0.5:4001"}, {server["bytesReceived"], 70000},
      {server["eventsForwarded"], 9}, {server["lastLine"], QJsonValue::Null},
      {serial["silence"], "failed"}, {serial["failedSince"], "2026-12-06 10:11:12"},
      {server["nextAttempt"], QJsonValue::Null}, {server["nextAttemptInSeconds"], QJsonValue::Null},
      // The client's next attempt falls after midnight.
      {client["nextAttemptInSeconds"], 100}, {client["nextAttempt"], "2026-12-07 00:01:10"},
      // clang-format on
  };
  for (size_t row = 0; row < rows.size(); ++row)
    EXPECT_EQ(rows[row].first, rows[row].second) << "row " << row << " in " << text;
}

// Reads the metrics back as Prometheus text exposition format 0.0.4 and checks what a scraper
// relies on: each family's HELP, then its TYPE (a counter's name ends in _total), then its
// samples, each once; names with the prefix (or the process exporters' own), well-formed labels,
// numbers, and a line feed at the end.
TEST(StatusRendering, MetricsFollowTheExpositionFormat) {
  static const std::regex grammar(
      R"re(# HELP ((?:tarvel80import|process)_[a-z_]+) \S.*|# TYPE ((?:tarvel80import|process)_[a-z_]+) (counter|gauge)|((?:tarvel80import|process)_[a-z_]+)((?:\{port="[0-7]",kind="(?:tcp_server|tcp_client|serial)"\}|\{version="[0-9.]+"\})?) ([0-9.e+]+))re");
  const std::string text = RenderMetrics(Example());
  EXPECT_TRUE(text.ends_with("\n"));
  std::map<std::string, double> samples;  // "name{labels}" -> value
  std::string helped, typed;              // the families of the last HELP and the last TYPE
  std::istringstream lines(text);
  std::smatch match;
  for (std::string line; std::getline(lines, line);) {
    if (!std::regex_match(line, match, grammar)) {
      ADD_FAILURE() << "unreadable line: " << line;
    } else if (match[1].matched) {
      helped = match[1];
    } else if (match[2].matched) {
      EXPECT_EQ(match[2], helped) << "TYPE without its HELP: " << line;
      EXPECT_EQ(match[3] == "counter", match[2].str().ends_with("_total")) << line;
      typed = match[2];
    } else {
      EXPECT_EQ(match[4], typed) << "sample out of its family's place: " << line;
      EXPECT_TRUE(samples.emplace(match[4].str() + match[5].str(), std::stod(match[6])).second)
          << "repeated: " << line;
    }
  }
  const std::vector<std::pair<std::string, double>> rows = {
      {"tarvel80import_build_info{version=\"1.0.04\"}", 1},
      {"process_start_time_seconds", 1796544309},
      {"tarvel80import_start_time_seconds", 1796544309},
      {"tarvel80import_ostrel_sent_lines_total", 5'000'000'123.0},
      {"tarvel80import_ostrel_connected", 1},
      {"tarvel80import_received_bytes_total{port=\"2\",kind=\"tcp_server\"}", 70000},
      {"tarvel80import_port_silence_failed{port=\"5\",kind=\"serial\"}", 1},
      {"tarvel80import_silence_failures_total{port=\"5\",kind=\"serial\"}", 3},
      {"tarvel80import_port_connected{port=\"5\",kind=\"serial\"}", 0},
  };
  for (const auto& [name, value] : rows)
    EXPECT_EQ(samples.count(name) ? samples.at(name) : -1, value) << name;
}

TEST(StatusRendering, RequestsAreAnsweredByPathMethodAndHealth) {
  // Method, path, alarm-server listener listening, ms since the last tick, code, body sent.
  const std::tuple<const char*, const char*, bool, int64_t, int, bool> rows[] = {
      // clang-format off
      {"GET", "/", true, 0, 200, true}, {"GET", "/status.json", true, 0, 200, true},
      {"GET", "/metrics", true, 0, 200, true}, {"GET", "/healthz", false, 0, 503, true},
      {"GET", "/healthz", true, HealthyTickGapMs, 200, true},
      {"GET", "/healthz", true, HealthyTickGapMs + 1, 503, true},
      {"HEAD", "/", true, 0, 200, false}, {"HEAD", "/healthz", false, 0, 503, false},
      {"HEAD", "/admin", true, 0, 404, false}, {"OTHER", "/metrics", true, 0, 405, true},
      {"GET", "/metrics/", true, 0, 404, true}, {"OTHER", "/admin", true, 0, 404, true},
      // clang-format on
  };
  for (const auto& [method, path, listening, msSinceTick, code, sendsBody] : rows) {
    const StatusRequestContext context{Example, listening, 0, msSinceTick};
    const StatusAnswer answer = AnswerStatusRequest(method, path, context);
    EXPECT_EQ(answer.Code, code) << method << " " << path << " " << msSinceTick;
    EXPECT_EQ(answer.SendBody, sendsBody) << method << " " << path;
    EXPECT_TRUE(std::string(path) != "/healthz" || answer.Body.find('\n') == answer.Body.size() - 1)
        << "one line: " << answer.Body;
    if (std::string(method) == "HEAD") {  // GET's head: its Content-Length is the body's size
      const StatusAnswer get = AnswerStatusRequest("GET", path, context);
      EXPECT_EQ(std::tie(answer.Code, answer.ContentType, answer.Body),
                std::tie(get.Code, get.ContentType, get.Body))
          << path;
    }
  }
}

TEST(StatusRendering, RecentLogLinesKeepTheLastOnesInOrder) {
  RecentLogLines recent;
  for (size_t n = 0; n < RecentLogLines::Capacity + 3; ++n) recent.Add(std::to_string(n) + "\r\n");
  recent.Add(std::string(RecentLogLines::MaxLineLength + 9, 'x'));
  const std::vector<std::string> lines = recent.Lines();
  ASSERT_EQ(lines.size(), RecentLogLines::Capacity);
  EXPECT_EQ(lines.front(), "4");
  EXPECT_EQ(lines[lines.size() - 2], std::to_string(RecentLogLines::Capacity + 2));
  EXPECT_EQ(lines.back().size(), RecentLogLines::MaxLineLength);
}

// The main window, and a debug window of its own for the tests of that window alone.
class QtWindowsTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  std::string programPath_ = folder_.Path();
  FakeClock clock_;
  QtMainWindow window_{clock_, programPath_};
  QtDebugWindow debug_{clock_, programPath_};
};

TEST_F(QtWindowsTest, MainWindowShowsRowsPanelsAndCaptionAndStaysOpenUntilHidden) {
  QTreeWidget* list = window_.ConnectionList();
  EXPECT_EQ(window_.AddRow("Port 0 J\xC4N"), 0);
  EXPECT_EQ(window_.AddRow("Serial"), 1);
  window_.SetSubItem(0, ConnectionListView::StatusColumn, "Waiting for connection at port 4001");
  window_.SetSubItem(1, ConnectionListView::RxBytesColumn, "65535");
  window_.SetSubItem(5, 1, "no such row");
  window_.SetSubItem(1, 4, "no such column");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(0)->text(0), QString::fromUtf8("Port 0 J\u00C4N"));
  EXPECT_EQ(list->topLevelItem(0)->text(1), "Waiting for connection at port 4001");
  EXPECT_EQ(list->topLevelItem(1)->text(3), "65535");

  window_.SetPanelText(StatusBarView::ConnectionPanel, "Waiting");
  window_.SetPanelText(StatusBarView::CounterPanel, "Ostrel TxBytes:12, RxBytes:0");
  EXPECT_EQ(window_.Panel(1)->text(), "Waiting");
  EXPECT_EQ(window_.Panel(2)->text(), "Ostrel TxBytes:12, RxBytes:0");

  std::vector<int> reasons;
  window_.SetCloseHandler([&](int reason) { reasons.push_back(reason); });
  window_.SetCaption("TARVEL80 \xC4");
  EXPECT_EQ(window_.windowTitle(), QString::fromUtf8("TARVEL80 \u00C4"));
  window_.show();
  window_.ExitAction()->trigger();
  EXPECT_TRUE(window_.isVisible());
  EXPECT_FALSE(window_.close()) << "the close box does not close by itself";
  EXPECT_TRUE(window_.isVisible());
  EXPECT_EQ(reasons,
            (std::vector<int>{QtMainWindow::ExitMenuReason, QtMainWindow::CloseBoxReason}));
  window_.Hide();
  EXPECT_FALSE(window_.isVisible());
}

TEST_F(QtWindowsTest, DebugMenuOpensAndClosesTheDebugWindowAfresh) {
  QtDebugWindow& debug = window_.DebugWindow();
  window_.DebugAction()->trigger();
  EXPECT_TRUE(window_.DebugChecked());
  EXPECT_TRUE(debug.isVisible());
  EXPECT_TRUE(window_.ShowLastChecked());
  debug.AddItem("kept");
  debug.ShowLastAction()->trigger();
  EXPECT_FALSE(window_.ShowLastChecked()) << "the logic reads the debug window's check";

  window_.DebugAction()->trigger();
  EXPECT_FALSE(window_.DebugChecked());
  EXPECT_FALSE(debug.isVisible());
  EXPECT_EQ(debug.ListCount(), 0) << "rows are discarded on close";

  window_.MenuDebugClick();
  EXPECT_TRUE(window_.DebugChecked());
  EXPECT_TRUE(window_.ShowLastChecked()) << "opened as designed";
  EXPECT_EQ(debug.parentWidget(), nullptr) << "not owned by the main window";

  debug.AddItem("row");
  debug.close();  // the close box
  EXPECT_FALSE(window_.DebugChecked());
  EXPECT_EQ(debug.ListCount(), 0);
}

// "Show last" selects and scrolls to the newest row once the event loop runs, unless it has gone;
// rows keep their ISO 8859-1 text.
TEST_F(QtWindowsTest, ShowLastScrollsToTheNewestRowAndRowsKeepLatin1Text) {
  debug_.AddItem("a");
  debug_.SetListIndex(0);
  debug_.RemoveItem(0);
  QApplication::processEvents();
  EXPECT_EQ(debug_.List()->currentRow(), -1) << "a pending selection of a removed row is dropped";

  debug_.Open();
  InMemoryMenuChecks menus;
  menus.SetDebugChecked(true);
  TrafficTrace trace(clock_, debug_, menus);
  for (int i = 0; i < 50; ++i) trace.AddDebugLine("row " + std::to_string(i));
  EXPECT_EQ(debug_.ListCount(), 50) << "counted at once";
  QApplication::processEvents();
  EXPECT_EQ(debug_.List()->currentRow(), 49);
  const QScrollBar* scroll = debug_.List()->verticalScrollBar();
  EXPECT_EQ(scroll->value(), scroll->maximum());

  debug_.AddItem("J\xC4N");
  debug_.RemoveItem(0);
  debug_.RemoveItem(70);
  EXPECT_EQ(debug_.Item(49), "J\xC4N");
  EXPECT_EQ(debug_.List()->item(49)->text(), QString::fromUtf8("J\u00C4N"));
  EXPECT_EQ(debug_.Item(70), "");
  debug_.ClearAction()->trigger();
  EXPECT_EQ(debug_.ListCount(), 0);
}

// The block's text is the saver's test; here the menu entry and the operator's message.
TEST_F(QtWindowsTest, FailedSaveTellsTheOperator) {
  debug_.AddItem("one");
  debug_.SaveAction()->trigger();
  EXPECT_NE(folder_.ReadFile("debug.txt").find("000 one\r\n"), std::string::npos);
  EXPECT_TRUE(debug_.findChildren<QMessageBox*>().isEmpty());
  programPath_ = folder_.Path() + "missing/";
  EXPECT_FALSE(debug_.MenuSaveClick());
  EXPECT_EQ(debug_.ListCount(), 1);
  const QList<QMessageBox*> boxes = debug_.findChildren<QMessageBox*>();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_TRUE(boxes[0]->text().contains("debug.txt"));
  boxes[0]->close();
}

}  // namespace
}  // namespace tarvel
