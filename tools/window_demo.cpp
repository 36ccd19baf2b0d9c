// Shows the main window and the debug window filled with example rows, as an operator would see
// them with three input ports and a connected alarm server.
//
//   window_demo                 shows the windows until the main window is closed
//   window_demo --grab <dir>    saves <dir>/main-window.png and <dir>/debug-window.png and ends
//
// Grabbing renders the widgets themselves, so it works on the offscreen platform as well.

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <string>

#include "diag/TrafficTrace.h"
#include "platform/SystemClock.h"
#include "ui/QtMainWindow.h"

namespace {

using tarvel::ConnectionListView;
using tarvel::StatusBarView;
using tarvel::TrafficTrace;

void FillMainWindow(tarvel::QtMainWindow& window) {
  window.SetCaption(window.Caption() + " - Version 1.0.04");
  window.SetExitCaption("&Exit\tAlt+F4");
  struct Row {
    const char* description;
    const char* status;
    const char* rxBytes;
  };
  const Row rows[] = {
      {"Fire panel, building A", "Waiting for connection at port 4001", ""},
      {"Intrusion panel, gate", "Connected to 192.168.10.20:4002", "1234"},
      {"Fire panel, building B", "Connected to COM3 (COM3,9600,N,8,1,0)", "87"},
  };
  for (const Row& row : rows) {
    const int index = window.AddRow(row.description);
    window.SetSubItem(index, ConnectionListView::StatusColumn, row.status);
    window.SetSubItem(index, ConnectionListView::RxBytesColumn, row.rxBytes);
  }
  window.SetPanelText(StatusBarView::ConnectionPanel, "Connected to Ostrel 192.168.10.5:50321");
  window.SetPanelText(StatusBarView::CounterPanel, "Ostrel TxBytes:512, RxBytes:36");
}

void TraceExamples(TrafficTrace& trace) {
  trace.TraceTraffic(1, "A 07.06.17 14:14:05 0012 BRANDLARM HALL 2\r\n", TrafficTrace::Received);
  trace.TraceTraffic(TrafficTrace::OstrelPort, "1|2017-06-07|14:14:05|0012||||BRANDLARM HALL 2\n",
                     TrafficTrace::Sent);
  trace.TraceTraffic(2,
                     "\x0C"
                     "07.06.17  14:14:09\r\n",
                     TrafficTrace::Received);
  trace.TraceTraffic(2, "LARM  SEKTION 4\r\nV\x8Ermedetektor K\x99K\r\n", TrafficTrace::Received);
  trace.TraceTraffic(TrafficTrace::OstrelPort,
                     "1|2017-06-07|14:14:09|SEKTION 4||||V\xE4rmedetektor K\xD6K\n",
                     TrafficTrace::Sent);
  trace.TraceTraffic(TrafficTrace::OstrelPort, "WD|2017-06-07|14:15:00\n", TrafficTrace::Sent);
  trace.TraceTraffic(1, "\tSTATUS OK\r\n", TrafficTrace::Received);
}

bool Grab(QWidget& widget, const QString& path) {
  const bool saved = widget.grab().save(path, "PNG");
  std::printf("%s %s\n", saved ? "saved" : "FAILED to save", qPrintable(path));
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList arguments = app.arguments();
  const int grabAt = arguments.indexOf(QStringLiteral("--grab"));
  const QString grabDir = grabAt > 0 && grabAt + 1 < arguments.size() ? arguments[grabAt + 1] : "";

  tarvel::SystemClock clock;
  const std::string programPath = QDir::currentPath().toStdString() + "/";
  tarvel::QtMainWindow mainWindow(clock, programPath);
  TrafficTrace trace(clock, mainWindow.DebugWindow(), mainWindow);
  FillMainWindow(mainWindow);
  mainWindow.move(40, 40);
  mainWindow.show();
  mainWindow.MenuDebugClick();  // opens the debug window
  mainWindow.DebugWindow().move(40, 260);
  TraceExamples(trace);

  if (grabDir.isEmpty()) return app.exec();

  int failures = 0;
  QTimer::singleShot(300, &app, [&] {
    failures += Grab(mainWindow, grabDir + "/main-window.png") ? 0 : 1;
    failures += Grab(mainWindow.DebugWindow(), grabDir + "/debug-window.png") ? 0 : 1;
    app.quit();
  });
  app.exec();
  return failures == 0 ? 0 : 1;
}
