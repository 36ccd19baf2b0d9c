#include "platform/qt/QtEventQueue.h"

#include <QCoreApplication>
#include <QPointer>
#include <QtGlobal>
#include <deque>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace tarvel {

namespace {

struct QueuedEvent {
  QPointer<QObject> Context;
  const char* Where;
  std::function<void()> Run;
};

// One thread only: the event loop's.
QtEventQueue::FaultReport faultReport;
std::deque<QueuedEvent> queue;
std::vector<QueuedEvent> afterHandler;
int handlerDepth = 0;
bool deliveryScheduled = false;

}  // namespace

void QtEventQueue::SetFaultReport(FaultReport report) {
  faultReport = std::move(report);
}

void QtEventQueue::Post(QObject* context, const char* where, std::function<void()> event) {
  queue.push_back({context, where, std::move(event)});
  Schedule();
}

void QtEventQueue::AfterHandler(QObject* context, const char* where, std::function<void()> work) {
  if (handlerDepth == 0) {
    work();
    return;
  }
  afterHandler.push_back({context, where, std::move(work)});
}

bool QtEventQueue::InHandler() {
  return handlerDepth > 0;
}

bool QtEventQueue::Idle() {
  return handlerDepth == 0 && queue.empty();
}

// The one place an exception no handler expected ends: unwinding through the event loop, it
// would end the process.
void QtEventQueue::ReportFault(const char* where, std::exception_ptr fault) {
  std::string what;
  try {
    std::rethrow_exception(fault);
  } catch (const std::exception& error) {
    what = error.what();
  } catch (...) {
    what = "an exception of unknown type";
  }
  if (faultReport) {
    try {
      faultReport(where, what);
      return;
    } catch (const std::exception& error) {
      what += std::string(" (not logged: ") + error.what() + ")";
    }
  }
  qWarning("Event handler fault in %s: %s", where, what.c_str());
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
    Run(event.Where, event.Run);
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
        ReportFault(item.Where, std::current_exception());
      }
    }
    work.clear();
  }
  if (--handlerDepth == 0) Schedule();
}

}  // namespace tarvel
