#pragma once

#include <cstdint>
#include <string>

#include "config/HostAllowList.h"

namespace tarvel {

// The values of the INI section "General".
struct GeneralSettings {
  int32_t ReconnectInterval = 120;  // seconds between attempts of a TCP client port
  std::string WatchDogTagName;      // empty: no watchdog line
  int32_t WatchDogInterval = 30;    // seconds; 0 or less: no watchdog
  int32_t OstrelPort = 14000;       // where the alarm server connects
  bool BufferIfOstrelNotConnected = true;
  HostAllowList OstrelAllowedHosts;  // who may connect as the alarm server; empty: any host
  std::string OstrelBindAddress;     // local address of the alarm-server listener; empty: all
  int32_t LogRetentionDays = 0;      // daily log files older than this many days go; 0: keep all
  int32_t StatusPort = 0;            // the status server's port; 0: no status server
  std::string StatusBindAddress = "127.0.0.1";  // its local address
  HostAllowList StatusAllowedHosts;             // who may read it; empty: any host
  int32_t KeepLimit = 32768;  // characters kept while no alarm server is connected; up to 1 GiB
  std::string KeepFile;       // where kept lines outlive a restart; empty: memory only
};

}  // namespace tarvel
