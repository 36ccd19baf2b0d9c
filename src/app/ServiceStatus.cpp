#include "app/ServiceStatus.h"

#include <algorithm>
#include <utility>

namespace tarvel {

ServiceStatus::ServiceStatus(const ProgramState& state, const Controls& controls,
                             const KeptLines& kept, Notify notify)
    : state_(state), controls_(controls), kept_(kept), notify_(std::move(notify)) {}

std::string ServiceStatus::StatusText() const {
  const SocketControl* ostrel = controls_.WinsockOstrelData;
  const bool ostrelConnected = ostrel != nullptr && ostrel->State() == SocketControl::Connected;
  int used = 0;
  int connected = 0;
  for (int port = 0; port < PortCount; ++port) {
    const PortKind kind = state_.Ports[port].Kind;
    if (kind == PortKind::NotUsed) continue;
    ++used;
    if (kind == PortKind::Serial) {
      const SerialControl* serial = controls_.MSComm[port];
      connected += serial != nullptr && serial->PortOpen() ? 1 : 0;
    } else {
      const SocketControl* data = controls_.WinsockData[port];
      connected += data != nullptr && data->State() == SocketControl::Connected ? 1 : 0;
    }
  }
  const uint64_t kept = kept_.Lines();
  return std::string(ostrelConnected ? "Alarm server connected" : "Alarm server not connected") +
         "; input ports connected: " + std::to_string(connected) + " of " + std::to_string(used) +
         "; lines kept: " + std::to_string(kept);
}

void ServiceStatus::Beat() {
  notify_("WATCHDOG=1");
  std::string text = StatusText();
  if (text == sent_) return;
  notify_("STATUS=" + text);
  sent_ = std::move(text);
}

}  // namespace tarvel
