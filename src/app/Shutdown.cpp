#include "app/Shutdown.h"

#include <string>

namespace tarvel {

CloseReason CloseReasonForSignal(StopSignal signal, bool runAsService) {
  switch (signal) {
    case StopSignal::Terminate:
      return runAsService ? CloseReason::ProgramClose : CloseReason::TaskManager;
    case StopSignal::HangUp:
      return CloseReason::SessionEnd;
    case StopSignal::Interrupt:
      break;
  }
  return CloseReason::UserClose;
}

void Shutdown::HandleSignal(StopSignal signal, bool runAsService) {
  if (signal == StopSignal::HangUp && runAsService) {
    log_.WriteLog(
        "Received SIGHUP: the service goes on; a changed TARVEL80Import.ini takes effect only "
        "after a restart (systemctl restart TARVEL80ImportForOstrel)");
    return;
  }
  Stop(CloseReasonForSignal(signal, runAsService));
}

void Shutdown::Stop(CloseReason reason) {
  if (stopping_) return;
  stopping_ = true;
  log_.WriteLog(
      "TARVEL80 Server is stopping, reason " + std::to_string(static_cast<int16_t>(reason)),
      LogFile::Importance::Essential);
  if (beforeEnd_) beforeEnd_();
  process_.EndProcess(0);
}

}  // namespace tarvel
