#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <utility>

class QObject;

namespace tarvel {

// The one road by which the Qt layer hands events to the logic. Socket, serial and timer
// events are queued here in the order they come about and delivered from the event loop one
// at a time, one per pass of the loop. An event never runs inside an operation the logic
// calls (posting only queues it) nor inside another handler: while a handler runs, a nested
// event loop (a modal message box) delivers nothing from this queue; the waiting events follow
// in order once the handler has ended.
//
// The queue is also the fence of every handler: an exception that leaves one ends that handler
// only. It is reported with `where`, the kind of handler (a socket's "DataArrival", the timer's
// tick), and the next event is delivered as usual.
class QtEventQueue {
 public:
  // Takes a handler's fault: `where` as given with the event, `what` the exception's text.
  // Unset, the fault goes to standard error.
  using FaultReport = std::function<void(const std::string& where, const std::string& what)>;
  static void SetFaultReport(FaultReport report);

  // Queues `event`; it is skipped if `context` has been destroyed by the time it is due.
  static void Post(QObject* context, const char* where, std::function<void()> event);
  // For a Qt signal that comes straight from the event loop (a socket's read notification):
  // runs `event` now when no handler runs and nothing waits, which saves a pass of the loop;
  // else queues it as Post does. Never for a signal an operation of the logic can raise.
  template <typename Event>
  static void RunOrPost(QObject* context, const char* where, Event&& event) {
    if (!RunIfIdle(where, event)) Post(context, where, std::forward<Event>(event));
  }
  // The first half of RunOrPost, for an event that refers to bytes it would have to copy to be
  // queued: runs `event` now, as a handler, when no handler runs and nothing waits; else false.
  template <typename Event>
  static bool RunIfIdle(const char* where, Event& event) {
    if (!Idle()) return false;
    Run(where, event);
    return true;
  }
  // For a handler that reaches the logic by another road (a signal, a window's close, a timer
  // of the executable's own): runs it at once, as a handler, behind the fence.
  template <typename Handler>
  static void RunHandler(const char* where, Handler&& handler) {
    Run(where, handler);
  }

  // Runs `work` once the handler now running has ended, before the loop goes on; at once when
  // no handler runs. For Qt-side work a handler may ask for many times (handing a socket its
  // output), done once for all. Skipped if `context` has been destroyed by then.
  static void AfterHandler(QObject* context, const char* where, std::function<void()> work);

  // Marks a handler that reaches the logic by another road (the load handler, a menu click):
  // while one exists, queued events wait. Scopes nest. No fence: what leaves it goes on to the
  // caller.
  class HandlerScope {
   public:
    HandlerScope();
    ~HandlerScope();
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;
  };

  // A handler runs (or the work after it): what it raises can wait for its end.
  static bool InHandler();

  // Events queued and not yet delivered (for tests).
  static size_t Waiting();

 private:
  static bool Idle();
  template <typename Event>
  static void Run(const char* where, Event& event) {
    HandlerScope scope;
    try {
      event();
    } catch (...) {
      ReportFault(where, std::current_exception());
    }
  }
  static void ReportFault(const char* where, std::exception_ptr fault);
  static void Schedule();
  static void DeliverOne();
};

}  // namespace tarvel
