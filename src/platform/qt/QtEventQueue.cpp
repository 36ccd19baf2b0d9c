#include "platform/qt/QtEventQueue.h"

#include <QCoreApplication>
#include <QPointer>
#include <QtGlobal>
#include <deque>
#include <exception>
#include <utility>
#include <vector>

namespace tarvel {

namespace {

struct QueuedEvent {
  QPointer<QObject> Context;
  std::function<void()> Run;
};

// One thread only: the event loop's.
std::deque<QueuedEvent> queue;
std::vector<QueuedEvent> afterHandler;
int handlerDepth = 0;
bool deliveryScheduled = false;

}  // namespace

void QtEventQueue::Post(QObject* context, std::function<void()> event) {
  queue.push_back({context, std::move(event)});
  Schedule();
}

void QtEventQueue::AfterHandler(QObject* context, std::function<void()> work) {
  if (handlerDepth == 0) {
    work();
    return;
  }
  afterHandler.push_back({context, std::move(work)});
}

bool QtEventQueue::Idle() {
  return handlerDepth == 0 && queue.empty();
}

// The logic contains its own faults; this is the last guard, because an exception unwinding
// through the event loop would end the process.
void QtEventQueue::ReportFault(std::exception_ptr fault) {
  try {
    std::rethrow_exception(fault);
  } catch (const std::exception& error) {
    qWarning("Event handler fault: %s", error.what());
  } catch (...) {
    qWarning("Event handler fault");
  }
}

size_t QtEventQueue::Waiting() {
  return queue.size();
}

void QtEventQueue::Schedule() {
  if (deliveryScheduled || handlerDepth > 0 || queue.empty()) return;
  deliveryScheduled = true;
  QMetaObject::invokeMethod(QCoreApplication::instance(), &QtEventQueue::DeliverOne,
                            Qt::QueuedConnection);
}

void QtEventQueue::DeliverOne() {
  deliveryScheduled = false;
  if (handlerDepth > 0) return;  // the scope's end schedules again
  while (!queue.empty()) {
    QueuedEvent event = std::move(queue.front());
    queue.pop_front();
    if (event.Context.isNull()) continue;
    Run(event.Run);
    break;
  }
  Schedule();
}

QtEventQueue::HandlerScope::HandlerScope() {
  ++handlerDepth;
}

QtEventQueue::HandlerScope::~HandlerScope() {
  // Still counted as inside the handler: what this work raises is queued, not run.
  static std::vector<QueuedEvent> work;
  while (handlerDepth == 1 && !afterHandler.empty()) {
    work.swap(afterHandler);
    for (QueuedEvent& item : work) {
      if (item.Context.isNull()) continue;
      try {
        item.Run();
      } catch (...) {
        ReportFault(std::current_exception());
      }
    }
    work.clear();
  }
  if (--handlerDepth == 0) Schedule();
}

}  // namespace tarvel
