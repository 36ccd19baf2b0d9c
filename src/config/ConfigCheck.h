#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/KeepFilePath.h"
#include "config/SerialSetting.h"
#include "text/IniFile.h"

namespace tarvel {

// One thing wrong, or worth a look, in the configuration: one line naming the place and the
// reason, e.g. "Configuration warning: [TARVEL80_Port_2] PortType=TCPSS: unknown port type
// (expected COM, TCPS or TCPC)".
struct ConfigFinding {
  bool IsError = false;  // an error stops start-up; a warning is only reported
  int Port = -1;         // the port section it is about; -1 for the file and other sections
  std::string Text;
};

// What the check needs besides the INI file's text.
struct ConfigCheckInput {
  std::string IniPath;      // where the file was looked for, for the findings about it
  std::string ReadProblem;  // why an existing file could not be read; empty when it was
  // Why a serial device (a path such as /dev/ttyS0) cannot be opened, e.g. "does not exist";
  // empty when it can. None: devices are not checked.
  std::function<std::string(const std::string& device)> SerialDeviceProblem;
  // The program folder (ending in "/") and its own files, which [General] KeepFile must not
  // name; no folder: KeepFile is not compared.
  std::string ProgramPath = "";
  std::vector<ProgramFile> OwnFiles = {};
};

// The devices of the COM ports that the COM-type ports' ComSettings name: [SerialDevices]
// COM<n>, else the default. All a running gateway needs of [SerialDevices], however many keys
// the section holds.
SerialDevices ConfiguredSerialDevices(const IniFile& ini);

// Reads the configuration as start-up does and gives every finding, errors and warnings, in
// the order: the file, [General], ports 0 to 7, then unknown sections and keys.
// Errors, each of which stops start-up: a file that exists but cannot be read; a value out of
// range or malformed (as the readers report it); a KeepFile that is one of the program's own
// files; a TCPS port without a port number 1 to 65535; a TCPC port without host:port or with a
// ListenPort; a bad ComSetting; a serial device that cannot be opened; two listeners on one TCP
// port. Warnings: no file; a number read other than it is written (as the readers report it); an
// unknown section or key, a key outside any section or given twice; an unknown PortType; a port
// section with settings but no PortType; a TCPC port left unused because ReconnectInterval is
// below 1.
std::vector<ConfigFinding> CheckConfiguration(const IniFile& ini, const ConfigCheckInput& input);

}  // namespace tarvel
