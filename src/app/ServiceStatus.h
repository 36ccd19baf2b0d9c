#pragma once

#include <functional>
#include <string>

#include "app/StatusSnapshot.h"

namespace tarvel {

// What the service tells the service manager while it runs: a status line kept current
// ("STATUS=...", shown by systemctl status) and the watchdog's sign of life ("WATCHDOG=1"),
// both from the event loop, so a stuck loop stops the signs and the service is restarted.
class ServiceStatus {
 public:
  // Sends one state message to the service manager.
  using Notify = std::function<void(const std::string& message)>;

  ServiceStatus(const StatusSources& sources, Notify notify);

  // The status line of the gateway as it stands (RenderServiceStatus).
  std::string StatusText() const;
  // Call about once a second from the event loop: sends WATCHDOG=1, and STATUS= when the text
  // has changed since the last one sent.
  void Beat();

 private:
  const StatusSources sources_;
  Notify notify_;
  std::string sent_;
};

// "Alarm server connected; input ports connected: 2 of 3; lines kept: 0". A serial port counts
// as connected while its device is open.
std::string RenderServiceStatus(const StatusSnapshot& status);

}  // namespace tarvel
