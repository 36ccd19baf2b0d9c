#include "diag/FaultLog.h"

namespace tarvel {

void FaultLog::Write(const std::string& where, const std::string& what) {
  if (auto line = limiter_.Admit(
          where, "Unexpected fault in " + where + ": " + what + "; the gateway goes on"))
    log_.WriteLog(*line);
}

}  // namespace tarvel
