#include "platform/QtEventQueue.h"

#include <QCoreApplication>
#include <QPointer>
#include <QtGlobal>
#include <deque>
#include <exception>
#include <utility>

namespace tarvel {

namespace {

struct QueuedEvent {
  QPointer<QObject> Context;
  std::function<void()> Run;
};

// One thread only: the event loop's.
std::deque<QueuedEvent> queue;
int handlerDepth = 0;
bool deliveryScheduled = false;

}  // namespace

void QtEventQueue::Post(QObject* context, std::function<void()> event) {
  queue.push_back({context, std::move(event)});
  Schedule();
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
  if (--handlerDepth == 0) Schedule();
}

}  // namespace tarvel
