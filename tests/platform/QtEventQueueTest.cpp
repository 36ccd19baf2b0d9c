#include <gtest/gtest.h>

#include <QObject>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/EventLoopWait.h"
#include "platform/qt/QtEventQueue.h"

namespace tarvel {
namespace {

using test::RunEventsFor;
using test::WaitUntil;

// Events of a destroyed context are skipped, and a handler's fault ends only that handler.
TEST(QtEventQueueTest, EventsRunInOrderOneAtATimeAndNeverInsideAHandler) {
  QObject context;
  auto gone = std::make_unique<QObject>();
  std::string order;
  int depth = 0;
  bool nested = false;
  const auto event = [&](char name) {
    return [&, name] {
      nested |= depth++ > 0;
      order += name;
      if (name == 'a') {
        QtEventQueue::Post(&context, [&] { order += 'c'; });  // queued behind b
        RunEventsFor(20);  // a nested loop (a modal box) delivers nothing meanwhile
      }
      --depth;
    };
  };
  QtEventQueue::Post(&context, event('a'));
  QtEventQueue::Post(gone.get(), [&] { order += 'x'; });
  QtEventQueue::Post(&context, [] { throw std::runtime_error("handler fault"); });
  QtEventQueue::Post(&context, event('b'));
  gone.reset();
  EXPECT_EQ(order, "") << "posting only queues";
  EXPECT_TRUE(WaitUntil([&] { return QtEventQueue::Waiting() == 0; }));
  RunEventsFor(10);
  EXPECT_EQ(order, "abc");
  EXPECT_FALSE(nested);
}

TEST(QtEventQueueTest, HandlerScopeHoldsEventsBackUntilItEnds) {
  QObject context;
  int delivered = 0;
  std::string afterHandler;
  {
    QtEventQueue::HandlerScope scope;
    QtEventQueue::Post(&context, [&] { ++delivered; });
    QtEventQueue::AfterHandler(&context, [&] { afterHandler += 'a'; });
    { QtEventQueue::HandlerScope nested; }
    RunEventsFor(30);
    EXPECT_EQ(delivered, 0);
    EXPECT_EQ(afterHandler, "") << "work after the handler waits for its outermost scope";
  }
  EXPECT_EQ(afterHandler, "a");
  QtEventQueue::AfterHandler(&context, [&] { afterHandler += 'b'; });
  EXPECT_EQ(afterHandler, "ab") << "outside a handler the work is done at once";
  EXPECT_TRUE(WaitUntil([&] { return delivered == 1; }));
}

}  // namespace
}  // namespace tarvel
