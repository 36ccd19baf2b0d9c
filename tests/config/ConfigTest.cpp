#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "config/ConfigCheck.h"
#include "config/ConfigReader.h"
#include "config/HostAllowList.h"
#include "config/KeepFilePath.h"

namespace tarvel {
namespace {

TEST(ConfigReader, RunAsServiceTakesOnlyANumber) {
  const std::pair<const char*, std::optional<bool>> rows[] = {
      // clang-format off
      {"0", false}, {"1", true}, {" 2 ", true}, {"-1", true}, {"0.0", false}, {"0.4", true},
      {"&H1", true}, {"abc", {}}, {"", {}}, {"1abc", {}}, {"1E", {}}, {"1e999", {}}};
  // clang-format on
  for (const auto& [text, expected] : rows) EXPECT_EQ(RunAsServiceValue(text), expected) << text;
}

TEST(ConfigReader, PortNumberIsAWholeNumberFrom1To65535) {
  const std::pair<const char*, std::optional<int32_t>> rows[] = {
      {"8080", 8080}, {" 8080 ", 8080}, {"1", 1},  {"65535", 65535}, {"8080x", {}},
      {"abc", {}},    {"", {}},         {"0", {}}, {"65536", {}},    {"-1", {}},
      {"80.5", {}},   {"80 80", 8080}};  // blanks inside are skipped, as in every number read
  for (const auto& [text, expected] : rows) EXPECT_EQ(PortNumberValue(text), expected) << text;
}

// Missing, empty or 0: no status server.
TEST(ConfigReader, StatusPortIsOffOrAPortNumber) {
  const std::pair<std::string, std::optional<int32_t>> rows[] = {// clang-format off
      {"", 0}, {"StatusPort=\n", 0}, {"StatusPort=0\n", 0}, {"StatusPort=8080\n", 8080},
      {"StatusPort=abc\n", {}}, {"StatusPort=00\n", {}}, {"StatusPort=0x\n", {}}};
  // clang-format on
  for (const auto& [line, expected] : rows) {
    GeneralSettings settings;
    const bool failed =
        ReadGeneralSettings(IniFile::FromText("[General]\n" + line), settings).has_value();
    EXPECT_EQ(failed ? std::nullopt : std::optional(settings.StatusPort), expected) << line;
  }
}

TEST(HostAllowList, MatchesAddressesAndRanges) {
  const std::string three = "10.0.0.1, 192.168.0.0/16 ,\t::1";
  const struct Row {
    std::string List;
    const char* Peer;
    bool Allowed;
  } rows[] = {// clang-format off
      {" \t ", "2001:db8::1", true},        {"", "not an address", true},
      {"10.1.2.3", "10.1.2.3", true},         {"10.1.2.3", "10.1.2.4", false},
      {"10.1.2.3", "::ffff:10.1.2.3", true},
      {"10.1.2.3", "::10.1.2.3", false},  // IPv4-compatible is not mapped
      {"::ffff:10.1.2.3", "10.1.2.3", true}, {"::ffff:10.0.0.0/104", "10.200.1.1", true},
      {"10.0.0.0/8", "10.255.255.255", true}, {"10.0.0.0/8", "11.0.0.0", false},
      {"10.1.2.3/8", "10.9.9.9", true},  // host bits of a range are ignored
      // A length inside a byte, host bits set in that byte.
      {"10.255.255.255/9", "10.128.0.1", true}, {"10.255.255.255/9", "10.127.255.255", false},
      {"0.0.0.0/0", "255.255.255.255", true}, {"0.0.0.0/0", "::1", false},
      {"::/0", "1.2.3.4", true},              {"::1", "127.0.0.1", false},
      {"2001:db8::/32", "2001:db8:ffff::1", true}, {"2001:db8::/32", "2001:db9::1", false},
      {"fe80::/10", "fe80::1%eth0", true},    {"fe80::/10", "febf::1", true},
      {"fe80::/10", "fec0::1", false},        {"2001:DB8::1", "2001:db8::1", true},
      {three, "192.168.44.1", true},          {three, "::1", true},
      {three, "172.16.0.1", false},           {"10.0.0.1", "host.example", false},
      {"::/0", "garbage", false}};
  // clang-format on
  for (const Row& row : rows) {
    std::string badEntry;
    const std::optional<HostAllowList> list = HostAllowList::Parse(row.List, badEntry);
    ASSERT_TRUE(list) << row.List << " failed at " << badEntry;
    EXPECT_EQ(list->Allows(row.Peer), row.Allowed)
        << "list \"" << row.List << "\", peer " << row.Peer;
  }
}

TEST(HostAllowList, MalformedEntryIsNamed) {
  const std::pair<std::string, std::string> rows[] = {
      // list, bad entry ("=": the whole list)
      // clang-format off
      {"10.0.0.256", "="},  {"10.0.0", "="},        {"010.0.0.1", "="},     {"10.0.0.1/33", "="},
      {"10.0.0.1/-1", "="}, {"10.0.0.1/", "="},     {"10.0.0.1/0008", "="}, {"::1/129", "="},
      {"[::1]", "="},       {"fe80::1%eth0", "="},  {"10.0.0.1 10.0.0.2", "="},
      {std::string(100, '1'), "="},                 {"10.0.0.1,", ""},      {"10.0.0.1,,10.0.0.2", ""},
      {"10.0.0.1,  gateway.example ,10.0.0.2", "gateway.example"}};
  // clang-format on
  for (const auto& [list, bad] : rows) {
    std::string badEntry = "unchanged";
    EXPECT_FALSE(HostAllowList::Parse(list, badEntry).has_value()) << list;
    EXPECT_EQ(badEntry, bad == "=" ? list : bad) << list;
  }
}

TEST(KeepFilePath, RefusesTheProgramsOwnFilesHoweverWritten) {
  const std::vector<ProgramFile> own{{"TARVEL80Import.ini", "the configuration file"},
                                     {"LogFiles/", "the log folder"},
                                     {"TARVEL80Import.lock", "the running-copy lock"}};
  const std::string ini = "is the configuration file /opt/t/TARVEL80Import.ini";
  const std::string logs = "the log folder /opt/t/LogFiles/";
  const std::pair<const char*, std::string> rows[] = {
      // clang-format off
      {"TARVEL80Import.ini", ini}, {"./TARVEL80Import.ini", ini},
      {"LogFiles/../TARVEL80Import.ini", ini}, {"/opt/t//TARVEL80Import.ini", ini},
      {"/opt/x/../t/./TARVEL80Import.ini", ini}, {"LogFiles", "is " + logs},
      {"LogFiles/", "is " + logs}, {"LogFiles//20240101.Log", "is in " + logs},
      {"/opt/t/TARVEL80Import.lock", "is the running-copy lock /opt/t/TARVEL80Import.lock"},
      {"", ""}, {"kept.txt", ""}, {"LogFilesOld/kept", ""},
      {"tarvel80import.ini", ""},  // another file where names keep their case
      {"/opt/t/TARVEL80Import.ini/x", ""}, {"/srv/TARVEL80Import.ini", ""}};
  // clang-format on
  for (const auto& [keepFile, problem] : rows) {
    const std::string found = KeepFileClash(keepFile, "/opt/t/", own);
    EXPECT_EQ(found, problem.empty() ? "" : problem + "; the keep file needs a name of its own")
        << keepFile;
  }
}

std::vector<ConfigFinding> Check(const std::string& ini, const std::string& readProblem = "") {
  const auto deviceProblem = [](const std::string& device) -> std::string {
    return device == "/dev/ttyS7" ? "does not exist" : "";
  };
  return CheckConfiguration(IniFile::FromText(ini),
                            {"/opt/t/TARVEL80Import.ini", readProblem, deviceProblem});
}

const std::string Error = "Configuration error: ";
const std::string Warning = "Configuration warning: ";
const std::string NotAPort = ": not a port number (expected a whole number from 1 to 65535)";
const std::string NotHostPort =
    ": not host:port (expected a host name or address, \":\" and a port from 1 to 65535)";
std::string Port(int n) {
  return "[TARVEL80_Port_" + std::to_string(n) + "]";
}

TEST(ConfigCheck, EveryFindingOfABadFileWithPlaceAndReason) {
  const std::string tcps = Port(1) + "\nPortType=TCPS\n", tcpc = Port(2) + "\nPortType=TCPC\n";
  const struct Row {
    std::string ini;
    std::string finding;  // the only finding
    int port;             // the port it is about, -1 for none
    std::string readProblem = "";
  } rows[] = {
      {"", Error + "/opt/t/TARVEL80Import.ini: cannot be read (Permission denied)", -1,
       "Permission denied"},
      {"[General]\nOstrelPort=0\n", Error + "[General] OstrelPort" + NotAPort + " \"0\"", -1},
      {"[General]\nWatchDogInterval=1e12\n",
       "Configuration value out of range: [General] WatchDogInterval=1e12", -1},
      {"[General]\nLogRetentionDays=-1\n",
       Error + "[General] LogRetentionDays: must be 0 or more \"-1\"", -1},
      {"[General]\nOstrelAllowedHosts=10.0.0.1, 10.0.0.300 ,::1\n",
       Error +
           "[General] OstrelAllowedHosts: not an IPv4 or IPv6 address or CIDR range \"10.0.0.300\"",
       -1},
      {"[General]\nOstrelBindAddress=localhost\n",
       Error + "[General] OstrelBindAddress: not an IPv4 or IPv6 address \"localhost\"", -1},
      {"[General]\nKeepLimit=1073741825\n",
       Error + "[General] KeepLimit: not from 0 to 1073741824 \"1073741825\"", -1},
      {tcps + "ListenPort=70000\n", Error + Port(1) + " ListenPort=70000" + NotAPort, 1},
      // The port's use of the number is at fault, not its reading: the error alone.
      {tcps + "ListenPort=4001x\n", Error + Port(1) + " ListenPort=4001x" + NotAPort, 1},
      {tcpc + "RemoteAddress=h:1\nListenPort=3x\n",
       Error + Port(2) + " ListenPort=3x: must be 0 or missing for a TCPC port", 2},
      {Port(3) + "\nPortType=TCPC\nRemoteAddress=h:1\nListenPort=x\n",
       Warning + Port(3) + " ListenPort=x: read as 0 (not a number)", 3},
      {Port(5) + "\nPortType=TCPC\nRemoteAddress=h:1\nPollFailRemindTime=-1\n",
       Error + Port(5) + " PollFailRemindTime: must be 0 or more \"-1\"", 5},
      // A number written otherwise than read is read as ever, and named with its reading.
      {"[General]\nKeepLimit=10k\n",
       Warning + "[General] KeepLimit=10k: read as 10 (text after the number is ignored)", -1},
      {"[General]\nKeepLimit=1E\n",
       Warning + "[General] KeepLimit=1E: read as 1 (text after the number is ignored)", -1},
      {"[General]\nKeepLimit=-\n", Warning + "[General] KeepLimit=-: read as 0 (not a number)", -1},
      {"[General]\nBufferIfOstrelNotConnected=yes\n",
       Warning + "[General] BufferIfOstrelNotConnected=yes: read as off (not a number)", -1},
      {"[General]\nReconnectInterval=-1\n",
       Error + "[General] ReconnectInterval: must be 0 or more \"-1\"", -1},
      {tcps + "ListenPort=4001\nListenAddress=10.0.0.0/8\n",
       Error + Port(1) + " ListenAddress: not an IPv4 or IPv6 address \"10.0.0.0/8\"", 1},
      {tcps + "ListenPort=14000\n",
       Error + Port(1) + " ListenPort=14000: TCP port already used by [General] OstrelPort", 1},
      {tcps + "ListenPort=4001\n" + Port(3) +
           "\nPortType=TCPS\nListenPort=4001\nListenAddress=127.0.0.1\n",
       Error + Port(3) + " ListenPort=4001: TCP port already used by " + Port(1) + " ListenPort",
       3},
      {tcpc + "RemoteAddress=panel:0x10\n",
       Error + Port(2) + " RemoteAddress=panel:0x10" + NotHostPort, 2},
      {tcpc + "RemoteAddress= :4002\n", Error + Port(2) + " RemoteAddress=:4002" + NotHostPort, 2},
      {tcpc + "RemoteAddress=panel:4002:1\n",
       Error + Port(2) + " RemoteAddress=panel:4002:1" + NotHostPort, 2},
      {Port(4) + "\nPortType=COM\n",
       Error + Port(4) + " ComSetting=: missing (expected e.g. COM1,9600,N,8,1,0)", 4},
      {Port(0) + "\nDescription=Door\n",
       Warning + Port(0) + ": settings but no PortType; the port is not used", 0},
      {Port(8) + "\n", Warning + Port(8) + ": unknown section (ignored)", -1},
      {"OstrelPort=15000\n[General]\n", Warning + "OstrelPort=15000: outside any section (ignored)",
       -1},
      {"[general]\nostrelport=15000\nOstrelPort=16000\n",
       Warning + "[general] OstrelPort=16000: key given twice (the first one counts)", -1},
      {"[SerialDevices]\nCOM0=/dev/ttyUSB0\n",
       Warning + "[SerialDevices] COM0=/dev/ttyUSB0: unknown key (ignored)", -1},
      {Port(4) + "\nPortType=COM\nComSetting=COM8,9600,N,5,1\n",
       Error + Port(4) +
           " ComSetting=COM8,9600,N,5,1: serial device /dev/ttyS7 does not "
           "exist (name another in [SerialDevices] COM8=)",
       4},
      {tcpc + "RemoteAddress=h:1\n[General]\nReconnectInterval=0\n",
       Warning + Port(2) +
           " PortType=TCPC: the port is not used while [General] ReconnectInterval is below 1",
       2}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.ini);
    const std::vector<ConfigFinding> findings = Check(row.ini, row.readProblem);
    ASSERT_EQ(findings.size(), 1u) << (findings.empty() ? "" : findings[0].Text);
    EXPECT_EQ(findings[0].Text, row.finding);
    EXPECT_EQ(findings[0].IsError, !row.finding.starts_with(Warning));
    EXPECT_EQ(findings[0].Port, row.port);
  }
}

TEST(ConfigCheck, ComSettingNamesTheFaultyField) {
  const std::pair<const char*, const char*> rows[] = {
      {"ttyS1,9600,N,8,1", "port name \"ttyS1\" is not COM and a number from 1"},
      {"COM1,96OO,N,8,1,0", "baud rate \"96OO\" is not a whole number"},
      {"COM1,9600,X,8,1,0", "parity \"X\" is not N, E, O, M or S"},
      {"COM1,9600,N,9,1", "data bits \"9\" are not 5, 6, 7 or 8"},
      {"COM1,9600,N,8,3", "stop bits \"3\" are not 1, 1.5 or 2"},
      {"COM1,9600,N,8,1,4", "handshaking \"4\" is not 0, 1, 2 or 3"},
      // Checked whole: nothing after the number, the last field, or a sixth one.
      {"COM1\xC3\xA9,9600,N,8,1,0", "port name \"COM1\xC3\xA9\" is not COM and a number from 1"},
      {"XYZ7,9600,N,8,1,0", "port name \"XYZ7\" is not COM and a number from 1"},
      {"COM+7,9600,N,8,1,0", "port name \"COM+7\" is not COM and a number from 1"},
      {"COM1,9600,N,8,1,0\x1B[2J", "handshaking \"0\x1B[2J\" is not 0, 1, 2 or 3"},
      {"COM1,9600,N,8,1,1.5", "handshaking \"1.5\" is not 0, 1, 2 or 3"},
      {"COM1,9600,N,8,1,0,\x1B[2J", "\",\x1B[2J\" follows the handshaking (expected nothing more)"},
      {"COM1,9600,N,8,1,,", "\",\" follows the handshaking (expected nothing more)"}};
  for (const auto& [setting, problem] : rows) {
    EXPECT_EQ(ReadComSetting(setting).Problem, problem) << setting;
  }
  for (const char* good : {"com3,9600,N,8,1", " COM12 ,9600,N,8,1,3", "COM1,9600,N,8,1,"})
    EXPECT_EQ(ReadComSetting(good).Problem, "") << good;
}

// Only the COM ports that COM-type ports name get a device: the section's own, else the default.
TEST(ConfigCheck, ConfiguredSerialDevicesAreOnlyTheNamedPorts) {
  const IniFile ini = IniFile::FromText(
      Port(0) + "\nPortType=COM\nComSetting=COM3,9600,N,8,1\n" + Port(1) +
      "\nPortType=TCPS\nComSetting=COM4,9600,N,8,1\n" + Port(2) +
      "\nPortType=com\nComSetting=com12,9600,N,8,1\n" + Port(3) +
      "\nPortType=COM\nComSetting=XYZ5,9600,N,8,1\n"
      "[SerialDevices]\nCOM3=/dev/ttyUSB0\nCOM4=/dev/ttyUSB1\nCOM5=/dev/ttyUSB2\nCOM6=/dev/x\n");
  EXPECT_EQ(ConfiguredSerialDevices(ini).Named(),
            (std::map<int, std::string>{{3, "/dev/ttyUSB0"}, {12, "/dev/ttyS11"}}));
}

// A full configuration, names in any case and numbers in every form the reader takes: no
// finding, and every key read as written (the start-up tests read the ports' description,
// addresses and serial setting).
TEST(ConfigCheck, EveryKeyTheProgramReadsIsKnownAndRead) {
  const std::string good =
      "[General]\nReconnectInterval=1\nWatchDogTagName=WD\nWatchDogInterval=3 0\n"
      "OstrelPort=14000\nBufferIfOstrelNotConnected=1\nOstrelAllowedHosts = 10.0.0.0/8 , ::1\n"
      "OstrelBindAddress=127.0.0.1\nLogRetentionDays=&H1E\nKeepLimit=0\nKeepFile=kept.txt\n"
      "StatusPort=8080\nStatusBindAddress=\nStatusAllowedHosts=127.0.0.1\n"
      "[tarvel80_port_0]\nDescription=Hall\nPollFailTimeout=1e1\nPollFailRemindTime=60.5\n"
      "Swedish7BitASCII2ISOLatin1=1\nDOSASCII2ISOLatin1=0.4\nForceOldParsing=0\nPortType= tcps \n"
      "ListenPort=4001\nAllowedHosts=192.168.7.7\nListenAddress=::\n"
      "[TARVEL80_Port_1]\nPortType=tcpc\nRemoteAddress=panel.local:4002\nListenPort=0\n"
      "[TARVEL80_Port_7]\nPortType=COM\nComSetting=COM12,19200,e,5,1.5,3\n"
      "[SerialDevices]\nCOM12=/dev/ttyUSB0\n";
  for (const ConfigFinding& finding : Check(good)) ADD_FAILURE() << finding.Text;
  const IniFile ini = IniFile::FromText(good);
  GeneralSettings general;
  EXPECT_FALSE(ReadGeneralSettings(ini, general));
  EXPECT_TRUE(general.OstrelAllowedHosts.Allows("10.20.30.40"));
  EXPECT_FALSE(general.OstrelAllowedHosts.Allows("192.168.7.7"));
  EXPECT_EQ(general.KeepFile, "kept.txt");
  EXPECT_EQ(general.StatusBindAddress, "127.0.0.1") << "loopback unless told otherwise";
  PortEntry entry;
  std::string portType;
  EXPECT_FALSE(ReadPortSettings(ini, 0, entry, portType));
  EXPECT_EQ(entry.PollFailTimeout, 10);
  EXPECT_EQ(entry.PollFailRemindTime, 60);
  EXPECT_TRUE(entry.Swedish7BitASCII2ISOLatin1);
  EXPECT_TRUE(entry.DOSASCII2ISOLatin1);
  EXPECT_FALSE(entry.ForceOldParsing);
  EXPECT_EQ(portType, "TCPS");
  EXPECT_TRUE(entry.AllowedHosts.Allows("192.168.7.7"));
  EXPECT_FALSE(entry.AllowedHosts.Allows("10.20.30.40"));
  EXPECT_FALSE(ReadPortSettings(ini, 1, entry, portType));
  ASSERT_TRUE(entry.Remote);
  EXPECT_EQ(entry.Remote->Host, "panel.local");
  EXPECT_EQ(entry.Remote->Port, 4002);
  EXPECT_FALSE(ReadPortSettings(ini, 7, entry, portType));
  ASSERT_TRUE(entry.Serial);
  EXPECT_EQ(entry.Serial->ComNumber, 12);
  EXPECT_EQ(entry.Serial->Line, (SerialLineSettings{19200, SerialParity::Even, SerialDataBits::Five,
                                                    SerialStopBits::OneAndHalf}));
  EXPECT_EQ(entry.Serial->LineText, "19200,e,5,1.5");
  EXPECT_EQ(entry.Serial->Handshaking, 3);

  // Start-up stops at the section's first error (the check lists them all).
  const std::optional<ConfigError> first = ReadGeneralSettings(
      IniFile::FromText("[General]\nWatchDogInterval=1e12\nOstrelAllowedHosts=x\n"), general);
  EXPECT_EQ(first ? first->Text() : "",
            "Configuration value out of range: [General] WatchDogInterval=1e12");
}

}  // namespace
}  // namespace tarvel
