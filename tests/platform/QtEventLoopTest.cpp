// The event loop's own pieces: the queue that delivers every event, and the update timer.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QObject>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "diag/FaultLog.h"
#include "diag/LogFile.h"
#include "fakes/FakeClock.h"
#include "platform/EventLoopWait.h"
#include "platform/qt/QtEventQueue.h"
#include "platform/qt/QtUpdateTimer.h"

namespace tarvel {
namespace {

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

}  // namespace
}  // namespace tarvel
