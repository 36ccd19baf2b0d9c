#include "app/Shutdown.h"

#include <csignal>
#include <string>

namespace tarvel {

CloseReason CloseReasonForSignal(int signalNumber, bool runAsService) {
  switch (signalNumber) {
    case SIGTERM:
      return runAsService ? CloseReason::ProgramClose : CloseReason::TaskManager;
    case SIGHUP:
      return CloseReason::SessionEnd;
    default:
      return CloseReason::UserClose;
  }
}

void Shutdown::HandleSignal(int signalNumber, bool runAsService) {
  if (signalNumber == SIGHUP && runAsService) {
    log_.WriteLog(
        "Received SIGHUP: the service goes on; a changed TARVEL80Import.ini takes effect only "
        "after a restart (systemctl restart TARVEL80ImportForOstrel)");
    return;
  }
  Stop(CloseReasonForSignal(signalNumber, runAsService));
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
