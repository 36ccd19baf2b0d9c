#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <vector>

#include "platform/EventLoopWait.h"
#include "platform/qt/QtUpdateTimer.h"

namespace tarvel {
namespace {

using test::RunEventsFor;
using test::WaitUntil;

TEST(QtUpdateTimerTest,
     TicksFromTheStartNeverOverlapFollowOneIntervalAfterTheLastAndStopWhenDisabled) {
  QtUpdateTimer timer;
  QElapsedTimer clock;
  clock.start();
  std::vector<qint64> starts;
  std::vector<qint64> ends;
  int depth = 0;
  bool overlapped = false;
  timer.SetHandler([&] {
    overlapped |= depth++ > 0;
    timer.SetEnabled(false);
    starts.push_back(clock.elapsed());
    RunEventsFor(starts.size() == 1 ? 150 : 0);  // a slow tick, longer than the interval
    ends.push_back(clock.elapsed());
    timer.SetEnabled(true);
    --depth;
  });
  ASSERT_TRUE(WaitUntil([&] { return starts.size() >= 3; }, 2000)) << "enabled from the start";
  EXPECT_FALSE(overlapped);
  for (size_t tick = 1; tick < starts.size(); ++tick) {
    EXPECT_GE(starts[tick] - ends[tick - 1], 95) << "tick " << tick;
  }
  timer.SetEnabled(false);
  const size_t ticks = starts.size();
  RunEventsFor(250);
  EXPECT_EQ(starts.size(), ticks) << "a disabled timer does not tick";
}

}  // namespace
}  // namespace tarvel
