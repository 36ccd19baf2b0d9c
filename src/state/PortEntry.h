#pragma once

#include <cstdint>
#include <string>

#include "config/HostAllowList.h"

namespace tarvel {

// What a port is used as; set at start-up only.
enum class PortKind : int16_t { NotUsed = 0, TcpServer = 1, TcpClient = 2, Serial = 3 };

// One row of the port table: the port's configuration, filled in at start-up and read only
// afterwards.
struct PortEntry {
  // Configuration, from the port's INI section.
  std::string Description;
  int32_t PollFailTimeout = 0;     // seconds; 0 or less: no silence supervision
  int32_t PollFailRemindTime = 0;  // seconds; 0 or less: no reminders
  bool Swedish7BitASCII2ISOLatin1 = false;
  bool DOSASCII2ISOLatin1 = false;
  bool ForceOldParsing = false;
  std::string RemoteAddress;   // host ":" port, for a TCP client port
  int32_t ListenPort = 0;      // for a TCP server port
  std::string ComSetting;      // "COMn,baud,parity,databits,stopbits,handshaking"
  HostAllowList AllowedHosts;  // for a TCP server port: who may connect; empty: any host
  std::string ListenAddress;   // for a TCP server port: the local address; empty: all
  PortKind Kind = PortKind::NotUsed;

  // The port's row in the connection list, or NoRow for a port that is not used.
  static constexpr int NoRow = -1;
  int ConnectionListItem = NoRow;
};

// A port's run-time counters, all in one place: the reception counts bytes and resets the
// silence, the supervision tick counts the silence, the reminders and the reconnect countdown.
struct PortActivity {
  int32_t RxByteCount = 0;  // see AddToByteCounter
  int32_t SilenceSeconds = 0;
  int32_t ReminderSeconds = 0;
  // Seconds until a TCP client port that is not connected tries again; 0 at start, so the
  // first attempt comes in the first second.
  int32_t ReconnectCountdown = 0;
};

}  // namespace tarvel
