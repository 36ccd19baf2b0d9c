// Traces 10,000 received 60-byte lines a second for about five seconds into the open debug
// window while the event loop runs, and prints how long each batch of trace calls took and how
// late a 10 ms timer fired meanwhile (the event loop's latency).
//
//   trace_benchmark [seconds]
//
// Scenarios: "Always show last row" on and off; for comparison a list that selects and scrolls
// to the newest row at every line instead of once per burst; and the cost of a trace call while
// the debug window is closed. Runs on the offscreen platform unless QT_QPA_PLATFORM says else.

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "diag/TrafficTrace.h"
#include "platform/posix/SystemClock.h"
#include "ui/qt/QtMainWindow.h"

namespace {

using tarvel::TrafficTrace;

constexpr int LinesPerSecond = 10000;
constexpr int TickMs = 10;
constexpr int ProbeMs = 10;

// The debug list as it would be if every new row were selected and scrolled to at once.
class DirectScrollList : public tarvel::DebugListView {
 public:
  explicit DirectScrollList(tarvel::QtDebugWindow& window) : window_(window) {}
  void AddItem(const std::string& text) override { window_.AddItem(text); }
  void RemoveItem(int index) override { window_.RemoveItem(index); }
  int ListCount() const override { return window_.ListCount(); }
  std::string Item(int index) const override { return window_.Item(index); }
  void SetListIndex(int index) override {
    window_.List()->setCurrentRow(index);
    window_.List()->scrollToItem(window_.List()->item(index));
  }
  void Clear() override { window_.Clear(); }

 private:
  tarvel::QtDebugWindow& window_;
};

struct Figures {
  double p50 = 0, p99 = 0, max = 0, mean = 0;
};

Figures Summarize(std::vector<double> values) {
  Figures figures;
  if (values.empty()) return figures;
  std::sort(values.begin(), values.end());
  auto at = [&](double fraction) {
    return values[std::min(values.size() - 1, static_cast<std::size_t>(fraction * values.size()))];
  };
  figures.p50 = at(0.50);
  figures.p99 = at(0.99);
  figures.max = values.back();
  double sum = 0;
  for (double value : values) sum += value;
  figures.mean = sum / values.size();
  return figures;
}

std::string ReceivedLine(int number) {
  std::string line = "A 07.06.17 14:14:05 " + std::to_string(1000 + number % 9000) +
                     " BRANDLARM HALL 2 SEKTION 4 ZON 12";
  line.resize(58, ' ');
  return line + "\r\n";  // 60 bytes as received
}

void RunScenario(const char* name, TrafficTrace& trace, tarvel::QtMainWindow& window,
                 double seconds) {
  std::vector<double> batchMs;
  std::vector<double> lateMs;
  long long sent = 0;
  QElapsedTimer clock;
  QTimer generator;
  generator.setTimerType(Qt::PreciseTimer);
  QObject::connect(&generator, &QTimer::timeout, [&] {
    // Catch up on lines that fell due while the loop was busy, so the rate holds.
    const long long due = clock.nsecsElapsed() * LinesPerSecond / 1'000'000'000LL;
    QElapsedTimer batch;
    batch.start();
    for (; sent < due; ++sent) trace.TraceTraffic(0, ReceivedLine(static_cast<int>(sent)), 0);
    batchMs.push_back(batch.nsecsElapsed() / 1e6);
  });
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  qint64 lastProbe = 0;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    lateMs.push_back(std::max(0.0, (now - lastProbe) / 1e6 - ProbeMs));
    lastProbe = now;
  });
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
  clock.start();
  generator.start(TickMs);
  probe.start(ProbeMs);
  loop.exec();
  generator.stop();
  probe.stop();
  const double elapsed = clock.nsecsElapsed() / 1e9;

  const Figures batch = Summarize(batchMs);
  const Figures late = Summarize(lateMs);
  std::printf("%s\n", name);
  std::printf("  lines traced %lld in %.2f s (%.0f lines/s), rows in list %d\n", sent, elapsed,
              sent / elapsed, window.DebugWindow().ListCount());
  std::printf(
      "  batch of ~%d lines: mean %.2f ms, p50 %.2f ms, p99 %.2f ms, max %.2f ms"
      " (%.1f us per line)\n",
      LinesPerSecond * TickMs / 1000, batch.mean, batch.p50, batch.p99, batch.max,
      batch.mean * 1000.0 * batchMs.size() / std::max<long long>(1, sent));
  std::printf("  %d ms timer lateness: mean %.2f ms, p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
              ProbeMs, late.mean, late.p50, late.p99, late.max);
}

void MeasureClosedWindow(TrafficTrace& trace) {
  constexpr int Calls = 1'000'000;
  const std::string line = ReceivedLine(1);
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < Calls; ++i) trace.TraceTraffic(static_cast<int16_t>(i & 7), line, 0);
  std::printf("debug window closed\n  %.1f ns per TraceTraffic call (%d calls)\n",
              static_cast<double>(timer.nsecsElapsed()) / Calls, Calls);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const double seconds = argc > 1 ? std::max(0.5, std::atof(argv[1])) : 5.0;

  tarvel::SystemClock clock;
  const std::string programPath = "./";
  tarvel::QtMainWindow window(clock, programPath);
  window.show();
  window.MenuDebugClick();
  tarvel::QtDebugWindow& debug = window.DebugWindow();
  TrafficTrace trace(clock, debug, window);
  std::printf("%d received lines of 60 bytes a second, platform %s\n", LinesPerSecond,
              qPrintable(QApplication::platformName()));

  RunScenario("debug window open, always show last row", trace, window, seconds);
  window.SetShowLastChecked(false);
  RunScenario("debug window open, last row not shown", trace, window, seconds);
  window.SetShowLastChecked(true);
  DirectScrollList direct(debug);
  TrafficTrace directTrace(clock, direct, window);
  RunScenario("for comparison: scrolling to the last row at every line", directTrace, window,
              seconds);
  window.MenuDebugClick();
  MeasureClosedWindow(trace);
  return 0;
}
