#pragma once

#include <string>

#include "diag/LogFile.h"
#include "diag/RefusalLogLimiter.h"
#include "platform/Clock.h"

namespace tarvel {

// The daily log's side of the event queue's fence: an exception that no handler expected is
// written with where it happened, "Unexpected fault in <where>: <what>; the gateway goes on".
// A fault that repeats (one every reception) writes at most one line per place a minute; the
// next line tells how many were held back.
class FaultLog {
 public:
  FaultLog(const Clock& clock, LogFile& log)
      : log_(log), limiter_(clock, RefusalLogLimiter::DefaultCapacity, "faults") {}

  // where: the kind of handler ("socket DataArrival"); what: the exception's text.
  void Write(const std::string& where, const std::string& what);

 private:
  LogFile& log_;
  RefusalLogLimiter limiter_;  // keyed by where
};

}  // namespace tarvel
