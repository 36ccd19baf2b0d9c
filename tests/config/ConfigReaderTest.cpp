#include <gtest/gtest.h>

#include <string>

#include "config/ConfigReader.h"

namespace tarvel {
namespace {

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

// A TCP port is a whole number from 1 to 65535 and nothing else but blanks.
TEST(ConfigReader, PortNumberIsAWholeNumberFrom1To65535) {
  const struct Row {
    const char* text;
    std::optional<int32_t> expected;
  } rows[] = {
      {"8080", 8080}, {" 8080 ", 8080}, {"1", 1},  {"65535", 65535}, {"8080x", {}},
      {"abc", {}},    {"", {}},         {"0", {}}, {"65536", {}},    {"-1", {}},
      {"80.5", {}},   {"80 80", 8080},  // blanks inside are skipped, as everywhere a number is read
  };
  for (const Row& row : rows) EXPECT_EQ(PortNumberValue(row.text), row.expected) << row.text;
}

// A number is read as ever; one written otherwise than read gets a warning naming the reading,
// and one whose value is wrong gets the error alone.
TEST(ConfigReader, NumbersReadOtherThanWrittenAreNamedAndKeepTheirReading) {
  const struct Row {
    std::string keepLimit;
    int32_t read;
    std::string reading;  // the warning's end; empty: none
  } rows[] = {
      {"10k", 10, "read as 10 (text after the number is ignored)"},
      {"1E", 1, "read as 1 (text after the number is ignored)"},
      {"ten", 0, "read as 0 (not a number)"},
      {"-", 0, "read as 0 (not a number)"},
      {"", 0, ""},
      {"1 0", 10, ""},  // blanks between the digits are skipped
      {"&H10", 16, ""},
      {"2.5", 2, ""},
      {"1e3", 1000, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.keepLimit);
    GeneralSettings settings;
    std::vector<ConfigWarning> warnings;
    EXPECT_FALSE(ReadGeneralSettings(IniFile::FromText("[General]\nKeepLimit=" + row.keepLimit),
                                     settings, nullptr, &warnings));
    EXPECT_EQ(settings.KeepLimit, row.read);
    ASSERT_EQ(warnings.size(), row.reading.empty() ? 0u : 1u);
    if (!row.reading.empty()) {
      EXPECT_EQ(warnings[0].Text(),
                "Configuration warning: [General] KeepLimit=" + row.keepLimit + ": " + row.reading);
    }
  }
  GeneralSettings settings;
  std::vector<ConfigWarning> warnings;
  const auto error = ReadGeneralSettings(
      IniFile::FromText("[General]\nKeepLimit=2000000000x\nBufferIfOstrelNotConnected=yes\n"),
      settings, nullptr, &warnings);
  EXPECT_EQ(error ? error->Key : "", "KeepLimit");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].Text(),
            "Configuration warning: [General] BufferIfOstrelNotConnected=yes: read as off (not a "
            "number)");
  EXPECT_FALSE(settings.BufferIfOstrelNotConnected);
}

// Missing, empty or 0: no status server; any other value must be a port number.
TEST(ConfigReader, StatusPortIsOffOrAPortNumber) {
  const std::pair<std::string, std::optional<int32_t>> rows[] = {{"", 0},
                                                                 {"StatusPort=\n", 0},
                                                                 {"StatusPort=0\n", 0},
                                                                 {"StatusPort=8080\n", 8080},
                                                                 {"StatusPort=abc\n", {}},
                                                                 {"StatusPort=00\n", {}},
                                                                 {"StatusPort=0x\n", {}}};
  for (const auto& [line, expected] : rows) {
    GeneralSettings settings;
    const bool failed =
        ReadGeneralSettings(IniFile::FromText("[General]\n" + line), settings).has_value();
    EXPECT_EQ(failed, !expected) << line;
    if (expected) {
      EXPECT_EQ(settings.StatusPort, *expected) << line;
    }
  }
}

}  // namespace
}  // namespace tarvel
