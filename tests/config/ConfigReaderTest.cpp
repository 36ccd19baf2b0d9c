#include <gtest/gtest.h>

#include <string>

#include "config/ConfigReader.h"
#include "state/ProgramState.h"

namespace tarvel {
namespace {

struct PortRead {
  PortEntry entry;
  std::string portType;
  std::optional<ConfigError> error;
};

PortRead ReadPort(const IniFile& ini, int port) {
  PortRead read;
  read.error = ReadPortSettings(ini, port, read.entry, read.portType);
  return read;
}

TEST(ConfigReader, ReadsEveryKeyOfTheGeneralAndAPortSection) {
  const IniFile ini = IniFile::FromText(
      "[General]\nOstrelAllowedHosts = 10.0.0.0/8 , ::1\nOstrelBindAddress=127.0.0.1\n"
      "KeepLimit=1073741824\nKeepFile=kept.dat\n"
      "[tarvel80_port_5]\n"
      "Description=Hall\nPollFailTimeout=60\nPollFailRemindTime=600.5\n"
      "Swedish7BitASCII2ISOLatin1=1\nDOSASCII2ISOLatin1=0.4\nForceOldParsing=yes\n"
      "RemoteAddress=host:1\nListenPort=2.5\nComSetting=COM3,9600,N,8,1,0\nPortType= tcps \n"
      "AllowedHosts=192.168.7.7\nListenAddress=::\n");
  GeneralSettings general;
  EXPECT_FALSE(ReadGeneralSettings(ini, general));
  EXPECT_TRUE(general.OstrelAllowedHosts.Allows("10.20.30.40"));
  EXPECT_FALSE(general.OstrelAllowedHosts.Allows("192.168.7.7"));
  EXPECT_EQ(general.OstrelBindAddress, "127.0.0.1");
  EXPECT_EQ(general.KeepLimit, 1 << 30);
  EXPECT_EQ(general.KeepFile, "kept.dat");

  const PortRead read = ReadPort(ini, 5);
  EXPECT_FALSE(read.error);
  EXPECT_EQ(read.entry.Description, "Hall");
  EXPECT_EQ(read.entry.PollFailTimeout, 60);
  EXPECT_EQ(read.entry.PollFailRemindTime, 600);
  EXPECT_TRUE(read.entry.Swedish7BitASCII2ISOLatin1);
  EXPECT_TRUE(read.entry.DOSASCII2ISOLatin1);
  EXPECT_FALSE(read.entry.ForceOldParsing);
  EXPECT_EQ(read.entry.RemoteAddress, "host:1");
  EXPECT_EQ(read.entry.ListenPort, 2);
  EXPECT_EQ(read.entry.ComSetting, "COM3,9600,N,8,1,0");
  EXPECT_EQ(read.portType, "TCPS");
  EXPECT_TRUE(read.entry.AllowedHosts.Allows("192.168.7.7"));
  EXPECT_FALSE(read.entry.AllowedHosts.Allows("10.20.30.40"));
  EXPECT_EQ(read.entry.ListenAddress, "::");
  EXPECT_EQ(ReadPort(ini, 4).entry.Description, "");

  // The status server listens on loopback unless told otherwise, also for an empty value.
  EXPECT_FALSE(ReadGeneralSettings(IniFile::FromText("[General]\nStatusBindAddress=\n"), general));
  EXPECT_EQ(general.StatusBindAddress, "127.0.0.1");

  // Start-up stops at the section's first error (the check lists them all).
  const std::optional<ConfigError> first = ReadGeneralSettings(
      IniFile::FromText("[General]\nWatchDogInterval=1e12\nOstrelAllowedHosts=x\n"), general);
  EXPECT_EQ(first ? first->Text() : "",
            "Configuration value out of range: [General] WatchDogInterval=1e12");
}

TEST(ConfigReader, RunAsServiceTakesOnlyANumber) {
  const struct Row {
    const char* text;
    std::optional<bool> expected;
  } rows[] = {
      {"0", false},           {"1", true},          {" 2 ", true},           {"-1", true},
      {"0.0", false},         {"&H1", true},        {"abc", std::nullopt},   {"", std::nullopt},
      {"1abc", std::nullopt}, {"1E", std::nullopt}, {"1e999", std::nullopt},
  };
  for (const Row& row : rows) EXPECT_EQ(RunAsServiceValue(row.text), row.expected) << row.text;
}

}  // namespace
}  // namespace tarvel
