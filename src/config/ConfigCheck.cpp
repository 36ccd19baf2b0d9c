#include "config/ConfigCheck.h"

#include <set>
#include <utility>

#include "config/ConfigReader.h"
#include "text/NumericValue.h"
#include "text/TextFields.h"

namespace tarvel {
namespace {

constexpr const char* SerialDevicesSection = "SerialDevices";

bool SameName(std::string_view a, std::string_view b) {
  return KeywordValue(a) == KeywordValue(b);
}

// "COM" and a whole number from 1 on, in any letter case.
bool IsComKey(std::string_view key) {
  return key.size() >= 4 && SameName(key.substr(0, 3), "COM") && AllDigits(key.substr(3)) &&
         key[3] != '0';
}

class Checker {
 public:
  Checker(const IniFile& ini, const ConfigCheckInput& input)
      : ini_(ini), input_(input), devices_(ConfiguredSerialDevices(ini)) {}

  std::vector<ConfigFinding> Run() {
    CheckFile();
    CheckGeneral();
    for (int port = 0; port < PortCount; ++port) CheckPort(port);
    CheckNames();
    return std::move(findings_);
  }

 private:
  void Add(bool isError, int port, const std::string& place, const std::string& reason) {
    findings_.push_back(
        {isError, port,
         std::string(isError ? "Configuration error: " : "Configuration warning: ") + place + ": " +
             reason});
  }
  // An error about one key of a port section; the key's reading is then not worth a warning.
  void AddError(int port, const std::string& section, const std::string& key,
                const std::string& reason) {
    faultyKeys_.insert(key);
    Add(true, port, Place(section, key), reason);
  }
  std::string Place(const std::string& section, std::string_view key) const {
    return "[" + section + "] " + std::string(key) + "=" + ini_.ReadIniValue(section, key, "");
  }

  void CheckFile() {
    if (!input_.ReadProblem.empty()) {
      Add(true, -1, input_.IniPath, "cannot be read (" + input_.ReadProblem + ")");
    } else if (!ini_.Exists()) {
      Add(false, -1, input_.IniPath, "no such file; every setting takes its default");
    }
  }

  void CheckGeneral() {
    std::vector<ConfigError> errors;
    std::vector<ConfigWarning> warnings;
    ReadGeneralSettings(ini_, general_, &errors, &warnings);
    for (const ConfigError& error : errors) findings_.push_back({true, -1, error.Text()});
    for (const ConfigWarning& warning : warnings) findings_.push_back({false, -1, warning.Text()});
    if (!input_.ProgramPath.empty()) {
      const std::string clash =
          KeepFileClash(general_.KeepFile, input_.ProgramPath, input_.OwnFiles);
      if (!clash.empty())
        findings_.push_back(
            {true, -1, ConfigError{"General", "KeepFile", general_.KeepFile, clash}.Text()});
    }
    if (PortNumberValue(ini_.ReadIniValue("General", "OstrelPort", "14000"))) {
      listeners_.push_back(
          {general_.OstrelPort, general_.OstrelBindAddress, "[General] OstrelPort"});
    }
  }

  void CheckPort(int port) {
    const std::string section = PortSection(port);
    PortEntry entry;
    std::string portType;
    std::vector<ConfigError> errors;
    std::vector<ConfigWarning> warnings;
    ReadPortSettings(ini_, port, entry, portType, &errors, &warnings);
    for (const ConfigError& error : errors) findings_.push_back({true, port, error.Text()});
    faultyKeys_.clear();

    if (portType == "TCPS") {
      CheckTcpServer(port, section, entry);
    } else if (portType == "TCPC") {
      CheckTcpClient(port, section, entry);
    } else if (portType == "COM") {
      CheckSerial(port, section, entry);
    } else if (!portType.empty()) {
      Add(false, port, Place(section, "PortType"),
          "unknown port type (expected COM, TCPS or TCPC); the port is not used");
    } else if (HasKeys(section)) {
      Add(false, port, "[" + section + "]", "settings but no PortType; the port is not used");
    }
    // How a number was read matters no more once the port's use of it is an error.
    for (const ConfigWarning& warning : warnings) {
      if (!faultyKeys_.contains(warning.Key)) findings_.push_back({false, port, warning.Text()});
    }
  }

  void CheckTcpServer(int port, const std::string& section, const PortEntry& entry) {
    const std::optional<int32_t> listenPort =
        PortNumberValue(ini_.ReadIniValue(section, "ListenPort", ""));
    if (!listenPort) {
      AddError(port, section, "ListenPort", PortNumberProblem);
      return;
    }
    for (const Listener& other : listeners_) {
      if (other.Port == *listenPort && (other.Address.empty() || entry.ListenAddress.empty() ||
                                        other.Address == entry.ListenAddress)) {
        AddError(port, section, "ListenPort", "TCP port already used by " + other.Owner);
        return;
      }
    }
    listeners_.push_back({*listenPort, entry.ListenAddress, "[" + section + "] ListenPort"});
  }

  void CheckTcpClient(int port, const std::string& section, const PortEntry& entry) {
    if (!entry.Remote) {
      AddError(port, section, "RemoteAddress",
               "not host:port (expected a host name or address, \":\" and a port from 1 to 65535)");
    }
    if (entry.ListenPort >= 1) {
      AddError(port, section, "ListenPort", "must be 0 or missing for a TCPC port");
    }
    if (general_.ReconnectInterval < 1) {
      Add(false, port, Place(section, "PortType"),
          "the port is not used while [General] ReconnectInterval is below 1");
    }
  }

  void CheckSerial(int port, const std::string& section, const PortEntry& entry) {
    if (!entry.Serial) {
      AddError(port, section, "ComSetting", ReadComSetting(entry.ComSetting).Problem);
      return;
    }
    const int16_t comPort = entry.Serial->ComNumber;
    const std::string device = devices_.DeviceOf(comPort);
    if (!input_.SerialDeviceProblem) return;
    if (const std::string problem = input_.SerialDeviceProblem(device); !problem.empty()) {
      AddError(port, section, "ComSetting",
               "serial device " + device + " " + problem + " (name another in [" +
                   SerialDevicesSection + "] COM" + std::to_string(comPort) + "=)");
    }
  }

  // Known keys only: an unknown one has its own warning.
  bool HasKeys(const std::string& section) const {
    for (const IniFile::Entry& entry : ini_.Entries()) {
      if (SameName(entry.Section, section) && ini_.WasAsked(entry.Section, entry.Key)) return true;
    }
    return false;
  }

  bool KnownSection(std::string_view section) const {
    if (SameName(section, "General") || SameName(section, SerialDevicesSection)) return true;
    for (int port = 0; port < PortCount; ++port) {
      if (SameName(section, PortSection(port))) return true;
    }
    return false;
  }

  bool KnownKey(const IniFile::Entry& entry) const {
    if (SameName(entry.Section, SerialDevicesSection)) return IsComKey(entry.Key);
    return ini_.WasAsked(entry.Section, entry.Key);
  }

  // Names are compared without regard to case, as the reader matches them.
  void CheckNames() {
    std::set<std::string> reported;
    for (const std::string& section : ini_.Sections()) {
      if (!KnownSection(section) && reported.insert(KeywordValue(section)).second)
        Add(false, -1, "[" + section + "]", "unknown section (ignored)");
    }
    std::set<std::pair<std::string, std::string>> seen;
    for (const IniFile::Entry& entry : ini_.Entries()) {
      const std::string place = entry.Key + "=" + entry.Value;
      if (entry.Section.empty()) {
        Add(false, -1, place, "outside any section (ignored)");
        continue;
      }
      if (!KnownSection(entry.Section)) continue;
      const std::string fullPlace = "[" + entry.Section + "] " + place;
      if (!KnownKey(entry)) {
        Add(false, -1, fullPlace, "unknown key (ignored)");
      } else if (!seen.insert({KeywordValue(entry.Section), KeywordValue(entry.Key)}).second) {
        Add(false, -1, fullPlace, "key given twice (the first one counts)");
      }
    }
  }

  struct Listener {
    int32_t Port;
    std::string Address;
    std::string Owner;
  };

  const IniFile& ini_;
  const ConfigCheckInput& input_;
  const SerialDevices devices_;
  GeneralSettings general_;
  std::vector<Listener> listeners_;
  std::set<std::string> faultyKeys_;  // of the port being checked
  std::vector<ConfigFinding> findings_;
};

}  // namespace

SerialDevices ConfiguredSerialDevices(const IniFile& ini) {
  std::map<int, std::string> devices;
  for (int port = 0; port < PortCount; ++port) {
    PortEntry entry;
    std::string portType;
    ReadPortSettings(ini, port, entry, portType);
    if (portType != "COM" || !entry.Serial) continue;
    const int comNumber = entry.Serial->ComNumber;
    devices[comNumber] = ini.ReadIniValue(SerialDevicesSection, "COM" + std::to_string(comNumber),
                                          SerialDevices().DeviceOf(comNumber));
  }
  return SerialDevices(std::move(devices));
}

std::vector<ConfigFinding> CheckConfiguration(const IniFile& ini, const ConfigCheckInput& input) {
  return Checker(ini, input).Run();
}

}  // namespace tarvel
