#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <utility>

class QObject;

namespace tarvel {

// The one road by which the Qt layer hands events to the logic. Socket, serial and timer
// events are queued here in the order they come about and delivered from the event loop one
// at a time, one per pass of the loop. An event never runs inside an operation the logic
// calls (posting only queues it) nor inside another handler: while a handler runs, a nested
// event loop (a modal message box) delivers nothing from this queue; the waiting events follow
// in order once the handler has ended.
class QtEventQueue {
 public:
  // Queues `event`; it is skipped if `context` has been destroyed by the time it is due.
  static void Post(QObject* context, std::function<void()> event);
  // For a Qt signal that comes straight from the event loop (a socket's read notification):
  // runs `event` now when no handler runs and nothing waits, which saves a pass of the loop;
  // else queues it as Post does. Never for a signal an operation of the logic can raise.
  template <typename Event>
  static void RunOrPost(QObject* context, Event&& event) {
    if (Idle()) {
      Run(event);
    } else {
      Post(context, std::forward<Event>(event));
    }
  }

  // Runs `work` once the handler now running has ended, before the loop goes on; at once when
  // no handler runs. For Qt-side work a handler may ask for many times (handing a socket its
  // output), done once for all. Skipped if `context` has been destroyed by then.
  static void AfterHandler(QObject* context, std::function<void()> work);

  // Marks a handler that reaches the logic by another road (the load handler, a menu click):
  // while one exists, queued events wait. Scopes nest.
  class HandlerScope {
   public:
    HandlerScope();
    ~HandlerScope();
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;
  };

  // Events queued and not yet delivered (for tests).
  static size_t Waiting();

 private:
  static bool Idle();
  template <typename Event>
  static void Run(Event& event) {
    HandlerScope scope;
    try {
      event();
    } catch (...) {
      ReportFault(std::current_exception());
    }
  }
  static void ReportFault(std::exception_ptr fault);
  static void Schedule();
  static void DeliverOne();
};

}  // namespace tarvel
