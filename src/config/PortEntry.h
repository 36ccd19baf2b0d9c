#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config/HostAllowList.h"
#include "config/HostAndPort.h"
#include "config/SerialSetting.h"

namespace tarvel {

// The ports [Port1] to [Port8], numbered 0 to 7 in the program.
constexpr int PortCount = 8;

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
  std::string RemoteAddress;          // host ":" port, for a TCP client port, as written
  std::optional<HostAndPort> Remote;  // RemoteAddress read; none when it is not host:port
  int32_t ListenPort = 0;             // for a TCP server port
  std::string ComSetting;  // "COMn,baud,parity,databits,stopbits,handshaking", as written
  std::optional<SerialSetting> Serial;  // ComSetting read; none when it cannot be used
  HostAllowList AllowedHosts;           // for a TCP server port: who may connect; empty: any host
  std::string ListenAddress;            // for a TCP server port: the local address; empty: all
  PortKind Kind = PortKind::NotUsed;

  // The port's row in the connection list, or NoRow for a port that is not used.
  static constexpr int NoRow = -1;
  int ConnectionListItem = NoRow;
};

}  // namespace tarvel
