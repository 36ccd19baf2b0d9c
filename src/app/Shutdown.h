#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "diag/LogFile.h"
#include "platform/ProcessControl.h"
#include "platform/StopSignal.h"

namespace tarvel {

// Why the main window closes, as written in the stop line.
enum class CloseReason : int16_t {
  UserClose = 0,     // close box, Alt+F4, Ctrl+C in a terminal
  ProgramClose = 1,  // Exit menu entry, service stop
  SessionEnd = 2,    // log-off, hang-up of the terminal
  TaskManager = 3,   // ended from outside (kill)
};

// The reason a signal stands for: a service's SIGTERM is the service manager's stop request.
CloseReason CloseReasonForSignal(StopSignal signal, bool runAsService);

// The one way the system stops: one log line, the kept lines left for the next start
// (beforeEnd), then the process ends at once. Nothing else is flushed, sent or closed one by
// one; ending the process releases every socket and port.
class Shutdown {
 public:
  Shutdown(LogFile& log, ProcessControl& process, std::function<void()> beforeEnd = nullptr)
      : log_(log), process_(process), beforeEnd_(std::move(beforeEnd)) {}

  // A stop signal delivered on the event loop: stops with the signal's reason, except SIGHUP
  // as a service, which is only logged (the service manager would not restart a service that
  // ended with status 0, and the INI file is read at start only).
  void HandleSignal(StopSignal signal, bool runAsService);

  // Writes "TARVEL80 Server is stopping, reason " + code and ends the process with status 0.
  // A second request while the first is under way writes nothing.
  void Stop(CloseReason reason);

 private:
  LogFile& log_;
  ProcessControl& process_;
  std::function<void()> beforeEnd_;
  bool stopping_ = false;
};

}  // namespace tarvel
