#include "app/ServiceStatus.h"

#include <utility>

namespace tarvel {

ServiceStatus::ServiceStatus(const StatusSources& sources, Notify notify)
    : sources_(sources), notify_(std::move(notify)) {}

std::string ServiceStatus::StatusText() const {
  return RenderServiceStatus(TakeStatusSnapshot(sources_));
}

std::string RenderServiceStatus(const StatusSnapshot& status) {
  int connected = 0;
  for (const StatusSnapshot::Port& port : status.Ports) {
    connected += (port.Kind == PortKind::Serial ? port.DeviceOpen : port.Connected) ? 1 : 0;
  }
  return std::string(status.TheOstrel.Connected ? "Alarm server connected"
                                                : "Alarm server not connected") +
         "; input ports connected: " + std::to_string(connected) + " of " +
         std::to_string(status.Ports.size()) +
         "; lines kept: " + std::to_string(status.TheOstrel.KeptLines);
}

void ServiceStatus::Beat() {
  notify_("WATCHDOG=1");
  std::string text = StatusText();
  if (text == sent_) return;
  notify_("STATUS=" + text);
  sent_ = std::move(text);
}

}  // namespace tarvel
