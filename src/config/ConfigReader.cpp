#include "config/ConfigReader.h"

#include <cmath>
#include <limits>
#include <utility>

#include "text/NumericValue.h"

namespace tarvel {
namespace {

bool OnlySkippedCharacters(std::string_view text) {
  return text.find_first_not_of(" \t\n") == std::string_view::npos;
}

// Why a number is read other than it is written; empty when it is written as read. An empty
// value is no number written, and reads as 0 without a word.
std::string MisreadReason(std::string_view text) {
  const NumberScan scan = ScanNumber(text);
  if (!scan.HasDigits) return text.empty() ? "" : "not a number";
  if (!OnlySkippedCharacters(text.substr(scan.Length))) return "text after the number is ignored";
  return "";
}

// Reads the keys of one section with their conversions. Every faulty value is an error (the
// first one is the section's error), and its field keeps the value it had; a number read other
// than it is written is a warning.
class SectionReader {
 public:
  SectionReader(const IniFile& ini, std::string section, std::vector<ConfigError>* allErrors,
                std::vector<ConfigWarning>* warnings)
      : ini_(ini), section_(std::move(section)), allErrors_(allErrors), warnings_(warnings) {}

  std::string Text(std::string_view key, std::string_view defaultText) const {
    return ini_.ReadIniValue(section_, key, defaultText);
  }
  bool Flag(std::string_view key, std::string_view defaultText) {
    const std::string text = Text(key, defaultText);
    const bool value = FlagValue(text);
    NoteReading(key, text, value ? "on" : "off");
    return value;
  }
  void Long(std::string_view key, std::string_view defaultText, int32_t& field) {
    Number(key, defaultText, std::numeric_limits<int32_t>::min(),
           std::numeric_limits<int32_t>::max(), "", field);
  }
  // A TCP port number (see PortNumberValue).
  void PortNumber(std::string_view key, std::string_view defaultText, int32_t& field) {
    const std::string text = Text(key, defaultText);
    if (const std::optional<int32_t> value = PortNumberValue(text)) {
      field = *value;
    } else {
      Fail(key, text, PortNumberProblem);
    }
  }
  // A Long that must not be negative: a count, an interval or a timeout.
  void Count(std::string_view key, std::string_view defaultText, int32_t& field) {
    Number(key, defaultText, 0, std::numeric_limits<int32_t>::max(), "must be 0 or more", field);
  }
  // A list of addresses and CIDR ranges; empty: any host.
  void Hosts(std::string_view key, HostAllowList& field) {
    std::string badEntry;
    if (auto list = HostAllowList::Parse(Text(key, ""), badEntry)) {
      field = std::move(*list);
    } else {
      Fail(key, badEntry, "not an IPv4 or IPv6 address or CIDR range");
    }
  }
  // One local address in digits; empty: every address.
  void Address(std::string_view key, std::string& field) {
    const std::string text = Text(key, "");
    if (text.empty() || HostAllowList::IsAddress(text)) {
      field = text;
    } else {
      Fail(key, text, "not an IPv4 or IPv6 address");
    }
  }
  // A Long that must lie within low to high.
  void LongWithin(std::string_view key, std::string_view defaultText, int32_t low, int32_t high,
                  int32_t& field) {
    Number(key, defaultText, low, high,
           "not from " + std::to_string(low) + " to " + std::to_string(high), field);
  }
  const std::optional<ConfigError>& Error() const { return error_; }

 private:
  // Keeps the section's first error, and every one in allErrors_.
  void Fail(std::string_view key, const std::string& value, const std::string& problem) {
    const ConfigError error{section_, std::string(key), value, problem};
    if (!error_) error_ = error;
    if (allErrors_ != nullptr) allErrors_->push_back(error);
  }
  // A Long from low to high (outside says why another is wrong); beyond the 32-bit range it is
  // out of range. The field keeps its value when this one is wrong.
  void Number(std::string_view key, std::string_view defaultText, int32_t low, int32_t high,
              const std::string& outside, int32_t& field) {
    const std::string text = Text(key, defaultText);
    const std::optional<int32_t> value = LongValue(text);
    if (!value || *value < low || *value > high) {
      Fail(key, text, value ? outside : "");
      return;
    }
    field = *value;
    NoteReading(key, text, std::to_string(*value));
  }
  void NoteReading(std::string_view key, const std::string& text, const std::string& reading) {
    if (warnings_ == nullptr) return;
    if (const std::string reason = MisreadReason(text); !reason.empty())
      warnings_->push_back(
          {section_, std::string(key), text, "read as " + reading + " (" + reason + ")"});
  }

  const IniFile& ini_;
  std::string section_;
  std::vector<ConfigError>* allErrors_;
  std::vector<ConfigWarning>* warnings_;
  std::optional<ConfigError> error_;
};

}  // namespace

std::string ConfigError::Text() const {
  if (!Problem.empty())
    return "Configuration error: [" + Section + "] " + Key + ": " + Problem + " \"" + Value + "\"";
  return "Configuration value out of range: [" + Section + "] " + Key + "=" + Value;
}

std::string ConfigWarning::Text() const {
  return "Configuration warning: [" + Section + "] " + Key + "=" + Value + ": " + Reading;
}

std::optional<int32_t> PortNumberValue(std::string_view text) {
  const NumberScan scan = ScanNumber(text);
  if (!scan.HasDigits || !OnlySkippedCharacters(text.substr(scan.Length))) return std::nullopt;
  if (scan.Value < 1 || scan.Value > 65535 || scan.Value != std::floor(scan.Value))
    return std::nullopt;
  return static_cast<int32_t>(scan.Value);
}

std::optional<ConfigError> ReadGeneralSettings(const IniFile& ini, GeneralSettings& settings,
                                               std::vector<ConfigError>* allErrors,
                                               std::vector<ConfigWarning>* warnings) {
  SectionReader reader(ini, "General", allErrors, warnings);
  reader.Count("ReconnectInterval", "120", settings.ReconnectInterval);
  settings.WatchDogTagName = reader.Text("WatchDogTagName", "");
  reader.Count("WatchDogInterval", "30", settings.WatchDogInterval);
  reader.PortNumber("OstrelPort", "14000", settings.OstrelPort);
  settings.BufferIfOstrelNotConnected = reader.Flag("BufferIfOstrelNotConnected", "1");
  reader.Hosts("OstrelAllowedHosts", settings.OstrelAllowedHosts);
  reader.Address("OstrelBindAddress", settings.OstrelBindAddress);
  reader.Count("LogRetentionDays", "0", settings.LogRetentionDays);
  if (const std::string statusPort = reader.Text("StatusPort", "");
      !statusPort.empty() && statusPort != "0") {
    reader.PortNumber("StatusPort", "", settings.StatusPort);
  }
  reader.Address("StatusBindAddress", settings.StatusBindAddress);
  if (settings.StatusBindAddress.empty()) settings.StatusBindAddress = "127.0.0.1";
  reader.Hosts("StatusAllowedHosts", settings.StatusAllowedHosts);
  reader.LongWithin("KeepLimit", "32768", 0, 1 << 30, settings.KeepLimit);
  settings.KeepFile = reader.Text("KeepFile", "");
  return reader.Error();
}

std::string PortSection(int port) {
  return PortSectionPrefix + std::to_string(port);
}

std::optional<ConfigError> ReadPortSettings(const IniFile& ini, int port, PortEntry& entry,
                                            std::string& portType,
                                            std::vector<ConfigError>* allErrors,
                                            std::vector<ConfigWarning>* warnings) {
  portType.clear();
  if (port < 0 || port >= PortCount) return std::nullopt;
  SectionReader reader(ini, PortSection(port), allErrors, warnings);
  entry.Description = reader.Text("Description", "");
  reader.Count("PollFailTimeout", "0", entry.PollFailTimeout);
  reader.Count("PollFailRemindTime", "0", entry.PollFailRemindTime);
  entry.Swedish7BitASCII2ISOLatin1 = reader.Flag("Swedish7BitASCII2ISOLatin1", "0");
  entry.DOSASCII2ISOLatin1 = reader.Flag("DOSASCII2ISOLatin1", "0");
  entry.ForceOldParsing = reader.Flag("ForceOldParsing", "0");
  entry.RemoteAddress = reader.Text("RemoteAddress", "");
  entry.Remote = ReadRemoteAddress(entry.RemoteAddress);
  reader.Long("ListenPort", "0", entry.ListenPort);
  entry.ComSetting = reader.Text("ComSetting", "");
  entry.Serial = ReadComSetting(entry.ComSetting).Setting;
  portType = KeywordValue(reader.Text("PortType", ""));
  reader.Hosts("AllowedHosts", entry.AllowedHosts);
  reader.Address("ListenAddress", entry.ListenAddress);
  return reader.Error();
}

std::optional<bool> RunAsServiceValue(std::string_view storedText) {
  const NumberScan scan = ScanNumber(storedText);
  if (!scan.HasDigits || !std::isfinite(scan.Value) ||
      !OnlySkippedCharacters(storedText.substr(scan.Length))) {
    return std::nullopt;
  }
  return scan.Value != 0;
}

}  // namespace tarvel
