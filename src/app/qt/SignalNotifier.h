#pragma once

#include <functional>
#include <memory>

#include "platform/StopSignal.h"

class QSocketNotifier;

namespace tarvel {

// Delivers SIGTERM, SIGHUP and SIGINT on the event loop: the signal handler only writes the
// signal number into a pipe, and the pipe's notifier calls onSignal between two handlers, so
// the stop runs like any other event. One instance per process.
class SignalNotifier {
 public:
  explicit SignalNotifier(std::function<void(StopSignal signal)> onSignal);
  ~SignalNotifier();
  SignalNotifier(const SignalNotifier&) = delete;
  SignalNotifier& operator=(const SignalNotifier&) = delete;

 private:
  void ReadSignals();

  std::function<void(StopSignal)> onSignal_;
  int readFd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tarvel
